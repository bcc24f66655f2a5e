// Names of upload files: a random number and the client's file name, in the engine's TempDir.
// Keeps every upload file inside TempDir whatever file name the client sends.
#pragma once

#include <string>

namespace velmora {

// The last component of a client file name: what follows its last "/", "\" or ":".
std::string ClientFileNameTail(const std::string& clientName);

// A fresh upload file path in tempDir (relative to the program's folder unless absolute): a random
// number from 0 to 8999999, the tail of clientName up to its first ".", and ".tmp". A tail that is
// empty or only dots gives just the number; a very long tail is shortened to fit a file name.
std::string NewUploadFileName(const std::string& tempDir, const std::string& clientName);

// Whether a file name has the shape NewUploadFileName gives: digits, a tail without ".", ".tmp".
bool IsUploadFileName(const std::string& fileName);

// Deletes the upload files in tempDir older than an hour: those of requests killed before they
// could delete their own (SIGKILL gives no chance). Bounded work: looks at no more than the first
// 2000 names of the folder.
void SweepOldUploadFiles(const std::string& tempDir);

}  // namespace velmora
