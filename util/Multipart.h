// The multipart/form-data decoder: streams a request body through a fixed ring, turns its parts
// into form data pairs and writes uploaded files to upload files in the engine's TempDir.
#pragma once

#include <string>

#include "StringList.h"

namespace velmora {

constexpr int MultipartRingSize = 131072;

// How a decoding ended. The two refusals leave no form data: the post is not the visitor's form.
enum class TMultipartOutcome { Decoded, TooManyFiles, TextTooLong };

// Reads the whole body (length from CONTENT_LENGTH) through AdaptReadClient and appends the
// form's pairs to data: each part named N gives N=value, or for a file part N=client file name
// and N_FILENAME=upload file path; a part's Content-Type line gives N_CONTENT_TYPE. Every upload
// file made is added to uploadFiles (the caller deletes them at the end of the request).
// Broken bodies end the decoding when their bytes are used up (a read of 0 bytes counts as the
// end): parts closed by a boundary line are kept, an unfinished value part is dropped, an
// unfinished file part keeps the bytes that arrived. A value part too large for the ring (about
// 128 KB) ends the decoding: the rest is read and dropped, data is emptied and the result is
// TextTooLong. A part without a name is skipped; a first line under 3 bytes is no boundary, and the
// body is read but not decoded. A failed read (negative count) empties data. An upload file that
// cannot be created or written raises EFCreateError / EWriteError.
// maxFiles above 0 bounds the file parts: at the first one beyond it the rest of the body is read
// and dropped, data is emptied and the result is TooManyFiles (the post is refused as too large).
TMultipartOutcome ParseMultipart(std::string& data, const std::string& tempDir, TStringList& uploadFiles, int maxFiles = 0);

// The same with a smaller ring (a power of two, at least 1024), so that tests and the fuzzer can
// drive the wrap-around and slicing paths with small bodies.
TMultipartOutcome ParseMultipartWithRing(std::string& data, const std::string& tempDir, TStringList& uploadFiles,
                                         int ringSize, int maxFiles = 0);

}  // namespace velmora
