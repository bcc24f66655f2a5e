// ReadMultipartData inside a whole request run: the body comes through the engine's ReadClient,
// upload files lie in TempDir (relative to the program's folder) while the request runs and are
// gone after EndRequest.
#include <gtest/gtest.h>

#include <filesystem>

#include "DecodeHelper.h"
#include "EnvPaths.h"
#include "Files.h"
#include "TestEngine.h"

namespace velmora::test {
namespace {

namespace fs = std::filesystem;

TEST(ReadMultipartData, UploadsLiveInRelativeTempDirForTheRequestOnly) {
    const std::string relative = "formdata-uploads-" + std::to_string(::getpid());
    const std::string dir = ExtractFilePath(ModuleFileName()) + relative;
    fs::create_directory(dir);

    TTestEngine e;
    e.TempDir = relative;
    e.DecodeMultipart = true;
    e.Body = ReadBytes(VELMORA_TEST_DATA "/multipart/chromium-form.body");
    e.Variables["CONTENT_LENGTH"] = std::to_string(e.Body.size());
    std::vector<std::string> uploads;
    std::string note, noteField, greeting;
    e.OnExecRequest = [&](TObject*) {
        for (const std::string& p : *RequestState().UploadFiles) uploads.push_back(p);
        noteField = AdaptGetFormField("upload_FILENAME", "-");
        note = ReadBytes(noteField);
        greeting = AdaptGetFormField("GREETING", "-");
    };
    e.HandleRequest();

    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(noteField, uploads[0]);
    for (const std::string& p : uploads) {
        EXPECT_EQ(fs::path(p).parent_path(), fs::path(dir));
        EXPECT_FALSE(FileExists(p));  // deleted by EndRequest
    }
    EXPECT_EQ(note, ReadBytes(VELMORA_TEST_DATA "/multipart/chromium-form.files/upload"));
    EXPECT_EQ(greeting, "Gr\xC3\xBC\xC3\x9F" "e aus K\xC3\xB6ln");
    EXPECT_EQ(RequestState().UploadFiles, nullptr);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace velmora::test
