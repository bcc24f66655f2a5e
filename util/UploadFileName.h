// Upload files: a random number and the client's file name, in the engine's TempDir, always a
// file of their own. Keeps every upload file inside TempDir whatever file name the client sends.
#pragma once

#include <memory>
#include <string>

#include "Streams.h"

namespace velmora {

// The last component of a client file name: what follows its last "/", "\" or ":".
std::string ClientFileNameTail(const std::string& clientName);

// A new upload file in tempDir (relative to the program's folder unless absolute), named by a
// random number from 0 to 8999999, the tail of clientName up to its first ".", and ".tmp". A tail
// that is empty or only dots gives just the number; a very long tail is shortened to fit a file
// name. The file is created exclusively: a name in use (another request's upload, a file or link
// an attacker placed) is never opened, another number is drawn. EFCreateError when no file
// could be made.
struct TUploadFile {
    std::string Path;
    std::unique_ptr<TFileStream> Stream;
};
TUploadFile CreateUploadFile(const std::string& tempDir, const std::string& clientName);

}  // namespace velmora
