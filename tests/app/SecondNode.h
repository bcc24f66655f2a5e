// A second velmora FastCGI node for a VelmoraSite started behind nginx: its own folder with a copy
// of the program and the site's side files (its own counter and log, as on another machine), and
// the nginx lines that spread the site's posts over both nodes round robin at /nodes/velmora.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "VelmoraSite.h"

namespace velmora::test {

// nginx lines for VelmoraSite's extraWebConfig: an upstream of the site's node and the second.
inline std::string TwoNodeUpstream() {
    return "upstream velmora_nodes { server unix:@DIR@/fcgi.sock; server unix:@DIR@/node2/fcgi.sock; }\n"
           "location /nodes/ { include /etc/nginx/fastcgi_params; fastcgi_pass velmora_nodes; }\n";
}

class SecondNode {
public:
    // Copies the program and the site's side files (call after writing them); Start() runs it.
    explicit SecondNode(const VelmoraSite& site) : FSite(site), FDir(site.Dir() + "/node2/") {
        std::filesystem::create_directories(FDir);
        std::filesystem::copy_file(site.CgiFile("velmora"), FDir + "velmora");
        for (const char* f : {"VELMORA.INI", "VELMORA.ALL", "VELMORA.CONF"})
            if (std::filesystem::exists(site.CgiFile(f))) std::filesystem::copy_file(site.CgiFile(f), FDir + f);
    }
    void Start(int threads) {
        if (FServer) return;
        FServer = std::make_unique<TBackground>(
            std::vector<std::string>{FDir + "velmora", "--fastcgi=" + FDir + "fcgi.sock", "--threads=" + std::to_string(threads)},
            FSite.Dir() + "/node2.out");
        if (!WaitForListener(FDir + "fcgi.sock")) throw std::runtime_error("the second node did not listen");
    }
    int Stop() { return FServer ? FServer->Stop() : -1; }
    // The node's folder, with its trailing "/".
    const std::string& Folder() const noexcept { return FDir; }
    // The address that reaches both nodes through nginx.
    std::string Url() const { return FSite.Url("/nodes/velmora"); }

private:
    const VelmoraSite& FSite;
    std::string FDir;
    std::unique_ptr<TBackground> FServer;
};

}  // namespace velmora::test
