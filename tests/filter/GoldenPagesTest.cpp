// Golden pages: each tests/data/filter/NAME.htm is run through Execute for one fixed request and
// must give NAME.out byte for byte. VELMORA_UPDATE_GOLDEN=1 rewrites the .out files for review.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FilterFixture.h"
#include "HAdaptor.h"

namespace velmora::test {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(FilterTest, GoldenPages) {
    Request.Variables = {{"REMOTE_ADDR", "10.0.0.1"},
                         {"SERVER_NAME", "www.example.com"},
                         {"HTTP_REFERER", "http://evil.example/?q=\"><script>alert(1)</script>"}};
    Request.Fields = {{"name", "Anna & Bob"},     {"email", "anna@example.com"},
                      {"hours", "24"},            {"subscribe", "on"},
                      {"comment", "<b>Nice</b>"}, {"yes", "1"}};
    // A condition holds when the form has a non-empty field of that name.
    Filter.OnHttpLogicalEntry = [](TObject*, const std::string& name, bool& value) {
        value = !AdaptGetFormField(name, "").empty();
    };
    std::filesystem::path dir = std::filesystem::path(VELMORA_TEST_DATA) / "filter";
    bool update = std::getenv("VELMORA_UPDATE_GOLDEN") != nullptr;
    int pages = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".htm") continue;
        ++pages;
        Filter.SetFileName(entry.path().string());
        Request.Output.clear();
        Filter.Execute();
        std::filesystem::path golden = entry.path();
        golden.replace_extension(".out");
        if (update) std::ofstream(golden, std::ios::binary) << Request.Output;
        EXPECT_EQ(Request.Output, ReadAll(golden)) << entry.path();
    }
    EXPECT_GE(pages, 2);
}

}  // namespace
}  // namespace velmora::test
