// Upload files: a random number and the client's file name, in the engine's TempDir, always a
// file of their own. Keeps every upload file inside TempDir whatever file name the client sends.
#pragma once

#include <memory>
#include <string>

#include "Streams.h"

namespace velmora {

// The last component of a client file name: what follows its last "/", "\" or ":".
std::string ClientFileNameTail(const std::string& clientName);

// A client file name as the form data keeps it: names up to 255 bytes unchanged; a longer one is
// cut to its last component and, if that is still longer, to 255 bytes (at a UTF-8 character's
// start) that end with the name's extension, when it has a short one.
std::string ShortClientFileName(const std::string& clientName);

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

// Whether a file name has the shape CreateUploadFile gives: digits, a tail without ".", ".tmp".
bool IsUploadFileName(const std::string& fileName);

// Makes tempDir (relative to the program's folder unless absolute) when it is missing, a folder
// only the program's user may enter: upload files hold visitors' files.
void PrepareUploadFolder(const std::string& tempDir);

// Deletes the upload files in tempDir older than an hour: those of requests killed before they
// could delete their own (SIGKILL gives no chance). Bounded work: looks at no more than the first
// 2000 names of the folder.
void SweepOldUploadFiles(const std::string& tempDir);

}  // namespace velmora
