// The fixture of the tests that switch VELMORA.CONF options on: velmora as a CGI program behind
// lighttpd with the standard settings and the real relay, the file written per case, the log read.
#pragma once

#include <gtest/gtest.h>

#include "VelmoraSite.h"

namespace velmora::test {

class SiteFixture : public ::testing::Test {
protected:
    void SetUp() override {
        site = std::make_unique<VelmoraSite>(VELMORA_PROGRAM, std::vector<std::string>{});
        site->WriteStandardSettings("nn");
    }
    void TearDown() override {
        std::string errors = site->ServerErrors();
        EXPECT_EQ(errors.find("Sanitizer"), std::string::npos) << errors;
    }
    void Conf(const std::string& text) { WriteWholeFile(site->CgiFile("VELMORA.CONF"), text); }
    bool Logged(const std::string& text) const { return site->Log().find(text) != std::string::npos; }
    // How many times text stands in the log.
    size_t LoggedTimes(const std::string& text) const {
        std::string log = site->Log();
        size_t n = 0;
        for (size_t p = log.find(text); p != std::string::npos; p = log.find(text, p + 1)) ++n;
        return n;
    }

    std::unique_ptr<VelmoraSite> site;
};

}  // namespace velmora::test
