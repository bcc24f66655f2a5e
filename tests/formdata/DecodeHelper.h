// Helpers of the multipart tests: decode a body through a fake client, collect the upload files'
// contents (then delete them), and make the form data comparable across runs (random file names).
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FakeClientBody.h"
#include "FormData.h"
#include "Multipart.h"
#include "StringList.h"

namespace velmora::test {

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Decoded {
    std::string Data;                   // as decoded
    std::string Normal;                 // each encoded upload path replaced by <upload N>
    std::vector<std::string> Paths;     // upload files, in creation order
    std::vector<std::string> Contents;  // their contents
    std::vector<bool> Existed;          // whether each listed file existed after decoding
    TMultipartOutcome Outcome = TMultipartOutcome::Decoded;
};

// Decodes what the installed fake body hands out, with upload files in tempDir, then deletes the
// upload files.
inline Decoded Decode(FakeClientBody& /*installed*/, const std::string& tempDir, int ring = MultipartRingSize,
                      std::string initial = "") {
    Decoded d;
    TStringList uploads;
    d.Data = std::move(initial);
    d.Outcome = ParseMultipartWithRing(d.Data, tempDir, uploads, ring);
    d.Normal = d.Data;
    for (int i = 0; i < uploads.Count(); ++i) {
        const std::string& path = uploads[i];
        d.Paths.push_back(path);
        d.Existed.push_back(std::filesystem::exists(path));
        d.Contents.push_back(ReadBytes(path));
        std::filesystem::remove(path);
        const std::string encoded = URLEncode(path);
        for (size_t p; (p = d.Normal.find(encoded)) != std::string::npos;)
            d.Normal.replace(p, encoded.size(), "<upload " + std::to_string(i) + ">");
    }
    return d;
}

inline Decoded Decode(const std::string& body, const std::string& tempDir, int ring = MultipartRingSize) {
    FakeClientBody fake(body);
    return Decode(fake, tempDir, ring);
}

// A part of a body with CR LF line ends: the boundary line, header lines, blank line, content.
inline std::string Part(const std::string& boundary, const std::string& headers, const std::string& content) {
    return boundary + "\r\n" + headers + "\r\n\r\n" + content + "\r\n";
}

inline std::string Disposition(const std::string& name) {
    return "Content-Disposition: form-data; name=\"" + name + "\"";
}

inline std::string FileDisposition(const std::string& name, const std::string& file) {
    return Disposition(name) + "; filename=\"" + file + "\"";
}

}  // namespace velmora::test
