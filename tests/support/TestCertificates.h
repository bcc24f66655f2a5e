// A private certificate authority for TLS tests and benchmarks, made with the openssl program in a
// given folder: ca.pem, and server certificates signed by it for the names a test asks for.
#pragma once

#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora::test {

class TestCertificates {
public:
    // Makes the authority (dir/ca.pem, dir/ca.key) and one server certificate "server" for
    // localhost and 127.0.0.1.
    explicit TestCertificates(const std::string& dir) : FDir(dir) {
        Run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj /CN=Velmora-Test-CA"
            " -keyout " + dir + "/ca.key -out " + dir + "/ca.pem");
        MakeServer("server", "DNS:localhost,IP:127.0.0.1");
    }

    // dir/NAME.pem and dir/NAME.key, signed by the authority, for the subjectAltName entries san.
    void MakeServer(const std::string& name, const std::string& san) const {
        std::string base = FDir + "/" + name;
        std::ofstream(base + ".ext") << "subjectAltName=" << san << "\n";
        Run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj /CN=" + name +
            " -keyout " + base + ".key -out " + base + ".csr");
        Run("openssl x509 -req -days 2 -in " + base + ".csr -CA " + FDir + "/ca.pem -CAkey " + FDir +
            "/ca.key -CAcreateserial -extfile " + base + ".ext -out " + base + ".pem");
    }

    std::string CaFile() const { return FDir + "/ca.pem"; }
    std::string Cert(const std::string& name = "server") const { return FDir + "/" + name + ".pem"; }
    std::string Key(const std::string& name = "server") const { return FDir + "/" + name + ".key"; }
    // The sink options that serve with certificate name.
    std::vector<std::string> SinkOptions(const std::string& name = "server") const {
        return {"--cert", Cert(name), "--key", Key(name)};
    }

private:
    static void Run(const std::string& command) {
        if (std::system((command + " >/dev/null 2>&1").c_str()) != 0)
            throw std::runtime_error("openssl failed: " + command);
    }

    std::string FDir;
};

}  // namespace velmora::test
