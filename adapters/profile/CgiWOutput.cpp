// TCGIWinEngine's answer path: the output file the profile names, and the base's header and
// buffering rules with every byte then written to that file. The server adds the status line.
#include <algorithm>

#include "CgiWEng.h"
#include "Files.h"

namespace velmora {

// An existing file is written from its start and never shortened: the server reads the answer's
// length from its headers, and another reader may hold the file open.
void TCGIWinEngine::OpenOutputFile(TCGIWinRequestState& st) {
    st.OutputFileName = AddSystemDrive(st.OutputFileName);
    RequireRegularFile(st.OutputFileName);
    const unsigned mode = PathExists(st.OutputFileName) ? fmOpenWrite | fmShareDenyNone : fmCreate | fmShareDenyNone;
    st.OutputFile = std::make_unique<TFileStream>(st.OutputFileName, mode);
}

void TCGIWinEngine::SendDirect(const void* data, long count) {
    TStream* out = CGIWinRequestState().OutputFile.get();
    // Without an output file (none named, or closed after a failure) the answer goes nowhere.
    if (out && count > 0 && IsDirectOutput()) out->Write(data, count);
}

void TCGIWinEngine::Write(const std::string& s) {
    THttpEngine::Write(s);
    SendDirect(s.data(), static_cast<long>(s.size()));
}

void TCGIWinEngine::WriteBuffer(const void* buffer, int count) {
    THttpEngine::WriteBuffer(buffer, count);
    constexpr int kPiece = 1024;
    const char* p = static_cast<const char*>(buffer);
    for (int done = 0; done < count; done += kPiece) SendDirect(p + done, std::min(kPiece, count - done));
}

// The server writes the status line in front of the output file's headers; an answer other than
// 200 (405, 413, 429, 204, ...) tells it the status in a "Status" header line, as under CGI.
void TCGIWinEngine::WriteStatusLine() { WriteStatusHeader(); }

}  // namespace velmora
