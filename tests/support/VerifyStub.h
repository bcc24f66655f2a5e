// A local HTTPS server (tests/support/verify_stub.py, Python's http.server with a certificate of
// the tests' own authority) that plays a CAPTCHA service's verification endpoint; stopped by its
// process id. Each provider and outcome is a path: Url("hcaptcha", "failure").
#pragma once

#include <filesystem>
#include <string>

#include "SmtpSink.h"
#include "TestCertificates.h"

namespace velmora::test {

class VerifyStub {
public:
    // Answers success only for posts with this secret. Its certificate names localhost and
    // 127.0.0.1, or the subjectAltName entries san.
    explicit VerifyStub(const std::string& secret, const std::string& san = "") {
        char tmpl[] = "/tmp/velmora-verify-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        FDir = tmpl;
        FCerts = std::make_unique<TestCertificates>(FDir);
        const std::string name = san.empty() ? "server" : "named";
        if (!san.empty()) FCerts->MakeServer(name, san);
        FPid = SpawnPython({std::string(VELMORA_SOURCE_DIR) + "/tests/support/verify_stub.py", FDir, FCerts->Cert(name),
                            FCerts->Key(name), secret});
        FPort = WaitForPortFile(FPid, FDir + "/port", "the verification stub", [this] { Stop(); });
    }
    ~VerifyStub() {
        Stop();
        std::error_code ec;
        std::filesystem::remove_all(FDir, ec);
    }
    VerifyStub(const VerifyStub&) = delete;
    VerifyStub& operator=(const VerifyStub&) = delete;

    std::string Url(const std::string& provider, const std::string& mode, const std::string& host = "127.0.0.1") const {
        return "https://" + host + ":" + std::to_string(FPort) + "/" + provider + "/" + mode;
    }
    int Port() const { return FPort; }
    std::string CaFile() const { return FCerts->CaFile(); }
    // The forms posted so far, one JSON line each.
    std::string Requests() const { return ReadFileBytes(FDir + "/requests"); }

    void Stop() { StopChild(FPid); }

private:
    std::string FDir;
    std::unique_ptr<TestCertificates> FCerts;
    pid_t FPid = 0;
    int FPort = 0;
};

}  // namespace velmora::test
