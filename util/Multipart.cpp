// ParseMultipart: scans the body in the ring for the boundary line (a three-byte quick test, then the
// full comparison), reads each part's header lines, and stores values in the form data or streams
// file content to its upload file in slices, so memory stays at the ring's size for any upload.
#include "Multipart.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "EndSignalCleanup.h"
#include "FormData.h"
#include "HAdaptor.h"
#include "MultipartRing.h"
#include "PairSkipSearch.h"
#include "Streams.h"
#include "SysUtils.h"
#include "UploadFileName.h"

namespace velmora {

namespace {

constexpr int kMaxBoundary = 254;
// The quick test looks 5 bytes back from a boundary's last byte and the full test compares the
// boundary without its two dashes. A shorter boundary line is compared whole instead (its dashes
// too); one of fewer than 3 bytes has no boundary text at all, and such a body is not decoded.
constexpr int kQuickTestBoundary = 6;
constexpr int kMinBoundary = 3;
// Scanned bytes kept in the ring when a file slice is written, so that a boundary line that began
// in them is still found; a longer boundary line keeps its own length instead.
constexpr int kKeep = 100;
// File content leaves the ring in blocks of this size (or half the ring, when smaller), aligned in
// the ring and in the file: one write per block, and the writes stay as cheap as a plain copy's.
constexpr int kWriteBlock = 65536;
// Header lines are parsed from their first 2047 bytes; the rest of a longer line is skipped.
constexpr size_t kMaxHeaderLine = 2047;

// A part's name as it goes into the form data: the bytes that would split or re-code a pair
// ("%", "&", "=", "+") are escaped, so every name reads back decoded exactly as the client sent it.
std::string NameInData(const std::string& name) {
    std::string out;
    for (char c : name) {
        switch (c) {
            case '%': out += "%25"; break;
            case '&': out += "%26"; break;
            case '=': out += "%3D"; break;
            case '+': out += "%2B"; break;
            default: out += c;
        }
    }
    return out;
}

// The text from p up to the next double quote, trimmed; empty when no quote closes it.
std::string QuotedFrom(const std::string& line, size_t p) {
    size_t q = line.find('"', p);
    return q == std::string::npos ? std::string() : Trim(line.substr(p, q - p));
}

bool IsText(char c) noexcept { return static_cast<unsigned char>(c) >= 0x20; }

// The boundary parameter of a multipart Content-Type (quotes removed); "" when there is none.
std::string BoundaryOf(const std::string& contentType) {
    const std::string lower = LowerCase(contentType);
    size_t p = lower.find("boundary=");
    if (p == std::string::npos) return {};
    std::string value = contentType.substr(p + 9);
    if (!value.empty() && value[0] == '"') {
        size_t q = value.find('"', 1);
        return q == std::string::npos ? std::string() : value.substr(1, q - 1);
    }
    return value.substr(0, value.find_first_of("; \t"));
}

class TMultipartDecoder {
public:
    TMultipartDecoder(std::string& data, const std::string& tempDir, TStringList& uploadFiles,
                      int ringSize, int64_t bodyLength, int maxFiles)
        : FData(data), FTempDir(tempDir), FUploadFiles(uploadFiles), FRing(ringSize, bodyLength), FMaxFiles(maxFiles) {}

    TMultipartOutcome Run() {
        FRing.Fill();
        SkipPreamble(BoundaryOf(AdaptGetVariable("CONTENT_TYPE")));
        if (ReadBoundary()) Scan();
        if (!FBoundaryRead || FRefused != TMultipartOutcome::Decoded) Drain();
        Finish();
        if (FRefused != TMultipartOutcome::Decoded) FData.clear();
        return FRefused;
    }

private:
    void SkipPreamble(const std::string& boundary);
    bool StartsWithLine(const std::string& line) const;
    bool ReadBoundary();
    void Drain();
    void Scan();
    int FindBoundary(int from, int to) const;
    bool IsBoundaryAt(int o) const;
    bool EndsWithBoundaryTail(int o, int n) const;
    void OnBoundary(int o);
    void EndPart(int o);
    bool ReadLine(std::string* line, int64_t& length);
    bool ReadHeaders();
    void ParseHeaderLine(const std::string& line);
    void StartPart();
    void Slice();
    void Finish();
    void ClearPart();

    std::string& FData;
    const std::string& FTempDir;
    TStringList& FUploadFiles;
    TMultipartRing FRing;
    const int FMaxFiles;          // above 0: the most file parts decoded
    // Why the decoding stopped before the body's end: a file part beyond FMaxFiles, or a value
    // part longer than the ring. What was read then is not the whole form.
    TMultipartOutcome FRefused = TMultipartOutcome::Decoded;
    bool FBoundaryRead = false;
    std::string FBoundary;
    std::unique_ptr<TPairSkipSearch> FSearch;  // finds the bytes every boundary ends with
    int FMinEnd = 0;  // the smallest offset at which a boundary can end
    int FKeep = kKeep;
    bool FEnded = false;  // the body ended inside a boundary or header line

    // The part being decoded.
    std::string FName;
    std::string FFileName;
    std::vector<std::string> FContentTypes;  // one per Content-Type line
    std::string FPending;                    // its pairs not yet in the form data
    std::unique_ptr<TFileStream> FUpload;
    bool FAligned = false;                   // the ring's index 0 is a block start of the file
    bool FValuePart = false;                 // a named part without a file name
    bool FUnclosedFileName = false;          // its file name ran to the end of the line
};

// Text before the first boundary line (a preamble, which RFC 2046 allows) is dropped, line by
// line, when the Content-Type names the boundary. Without a name the first line is taken as the
// boundary, as before.
void TMultipartDecoder::SkipPreamble(const std::string& boundary) {
    const std::string dashed = "--" + boundary;
    if (boundary.empty() || dashed.size() > static_cast<size_t>(kMaxBoundary)) return;
    const int need = static_cast<int>(dashed.size()) + 1;  // the line and the byte that ends it
    bool lineStart = true;
    for (;;) {
        if (FRing.Avail() < need && !FRing.BodyDone()) FRing.Fill();
        if (FRing.Avail() == 0 || (lineStart && StartsWithLine(dashed))) return;
        const int lf = FRing.Find('\n', 0, FRing.Avail());
        lineStart = lf < FRing.Avail();
        FRing.Consume(lineStart ? lf + 1 : FRing.Avail());
        if (FRing.Avail() == 0 && FRing.BodyDone()) return;
    }
}

// The ring starts with line, followed by a control byte or the end of the body.
bool TMultipartDecoder::StartsWithLine(const std::string& line) const {
    const int n = static_cast<int>(line.size());
    if (FRing.Avail() < n) return false;
    for (int i = 0; i < n; ++i)
        if (FRing.At(i) != line[static_cast<size_t>(i)]) return false;
    return FRing.Avail() == n || !IsText(FRing.At(n));
}

// The boundary line is the body's first line: up to its first control byte, at most 254 bytes.
bool TMultipartDecoder::ReadBoundary() {
    const int n = std::min(FRing.Avail(), kMaxBoundary);
    int len = 0;
    while (len < n && IsText(FRing.At(len))) ++len;
    FRing.CopyTo(0, len, FBoundary);
    FKeep = std::max(kKeep, len);
    if (len < kMinBoundary) return false;
    FBoundaryRead = true;
    // Every byte the tests look at lies at or after Start.
    FMinEnd = len < kQuickTestBoundary ? len - 1 : std::max(5, len - 3);
    FSearch = std::make_unique<TPairSkipSearch>(FBoundary.substr(len < kQuickTestBoundary ? 0 : 2));
    return true;
}

// A body that cannot be decoded is still read to its end, as every body is.
void TMultipartDecoder::Drain() {
    for (;;) {
        FRing.Consume(FRing.Avail());
        if (FRing.BodyDone()) return;
        FRing.Fill();
    }
}

void TMultipartDecoder::Scan() {
    // Offsets up to lastExamined are scanned before a slice must make room.
    const int lastExamined = FRing.Size() - FKeep + 1;
    while (!FEnded && FRefused == TMultipartOutcome::Decoded && !FRing.Failed()) {
        if (FRing.Offset >= FRing.Avail()) {
            if (FRing.BodyDone()) return;
            FRing.Fill();
            continue;
        }
        const int to = std::min(FRing.Avail(), lastExamined + 1);
        const int o = FindBoundary(FRing.Offset, to);
        if (o < to) {
            OnBoundary(o);
            continue;
        }
        FRing.Offset = to;
        if (to > lastExamined) Slice();
    }
}

// The first offset in [from, to) where a boundary ends, or to. Every boundary ends with the same
// bytes (the line less its two dashes, or the whole of a short one): FSearch finds where they
// stand, skipping over binary content, and each place then gets the quick test and the full
// comparison as before. A boundary across the ring's wrap is looked for byte by byte at the few
// offsets it can end on.
int TMultipartDecoder::FindBoundary(int from, int to) const {
    from = std::max(from, FMinEnd);
    const int n = static_cast<int>(FSearch->Length());
    // FMinEnd keeps every start at 0 or after.
    for (int s = from - n + 1; s + n - 1 < to;) {
        int count = 0;
        const char* piece = FRing.Contiguous(s, to, count);
        const int t = FSearch->Find(piece, count, [&](int at) { return IsBoundaryAt(s + at + n - 1); });
        if (t >= 0) return s + t + n - 1;
        s += count;
        if (s >= to) break;
        // The piece ended at the wrap: the ends whose start lies before it.
        for (int o = std::max(from, s); o < std::min(to, s + n - 1); ++o)
            if (FRing.At(o) == FBoundary.back() && IsBoundaryAt(o)) return o;
    }
    return to;
}

// A boundary ends at offset o, whose byte is known to equal the boundary line's last byte.
bool TMultipartDecoder::IsBoundaryAt(int o) const {
    const int len = static_cast<int>(FBoundary.size());
    if (len < kQuickTestBoundary) return EndsWithBoundaryTail(o, len);
    if (FRing.At(o - 3) != FBoundary[len - 4] || FRing.At(o - 5) != FBoundary[len - 6]) return false;
    return EndsWithBoundaryTail(o, len - 2);
}

// The n ring bytes ending at offset o equal the last n bytes of the boundary line.
bool TMultipartDecoder::EndsWithBoundaryTail(int o, int n) const {
    const int len = static_cast<int>(FBoundary.size());
    for (int i = 1; i < n; ++i)
        if (FRing.At(o - i) != FBoundary[len - 1 - i]) return false;
    return true;
}

void TMultipartDecoder::OnBoundary(int o) {
    if (!FName.empty()) EndPart(o);
    ClearPart();
    FRing.Consume(o + 1);
    int64_t length = 0;
    if (!ReadLine(nullptr, length) || !ReadHeaders()) {
        FEnded = true;
        return;
    }
    StartPart();
}

// The part's content runs from Start to the line end before the boundary line, found by walking
// back over the boundary text; without a line end in the ring the remaining content is empty.
void TMultipartDecoder::EndPart(int o) {
    int s = o - 2;
    while (s >= 0 && IsText(FRing.At(s))) --s;
    if (FUpload) {
        int end = s;
        if (end >= 0 && FRing.At(end) == '\n') --end;
        if (end >= 0 && FRing.At(end) == '\r') --end;
        FRing.WriteTo(0, end + 1, *FUpload);
    } else if (FValuePart) {
        std::string value;
        FRing.CopyTo(0, s + 1, value);
        value.resize(std::strlen(value.c_str()));  // a value is text: it ends at a zero byte
        if (!value.empty() && value.back() == '\n') value.pop_back();
        if (!value.empty() && value.back() == '\r') value.pop_back();
        FData += FPending + NameInData(FName) + "=" + URLEncode(value) + "&";
    }
}

// Reads one line through its LF (filling the ring as needed). line gets its bytes up to the first
// control byte, at most kMaxHeaderLine; length counts every byte before the LF. False when the
// body ends first.
bool TMultipartDecoder::ReadLine(std::string* line, int64_t& length) {
    if (line) line->clear();
    length = 0;
    bool full = line == nullptr;
    for (;;) {
        const int avail = FRing.Avail();
        const int lf = FRing.Find('\n', 0, avail);
        for (int k = 0; k < lf && !full; ++k) {
            char c = FRing.At(k);
            full = !IsText(c) || line->size() >= kMaxHeaderLine;
            if (!full) *line += c;
        }
        length += lf;
        if (lf < avail) {
            FRing.Consume(lf + 1);
            return true;
        }
        FRing.Consume(avail);
        if (FRing.BodyDone()) return false;
        FRing.Fill();
    }
}

// Header lines up to the blank line (a line of at most one byte, such as a lone CR).
bool TMultipartDecoder::ReadHeaders() {
    std::string line;
    int64_t length = 0;
    for (;;) {
        if (!ReadLine(&line, length)) return false;
        if (length <= 1) return true;
        ParseHeaderLine(line);
    }
}

// Searches are case-sensitive. The first "name=\"" may be the tail of "filename=\"" when that
// comes first in the line; then the part is named after the file. A file name whose quote does
// not close within the line (a name longer than the line's parsed bytes, or one holding a
// control byte) still makes the part a file: its content must never become a text field.
void TMultipartDecoder::ParseHeaderLine(const std::string& line) {
    size_t p = line.find("name=\"");
    if (p != std::string::npos) FName = QuotedFrom(line, p + 6);
    p = line.find("filename=\"");
    if (p != std::string::npos) {
        const bool closed = line.find('"', p + 10) != std::string::npos;
        FFileName = ShortClientFileName(closed ? QuotedFrom(line, p + 10) : Trim(line.substr(p + 10)));
        FUnclosedFileName = !closed;
    }
    p = line.find("Content-Type:");
    if (p != std::string::npos) {
        std::string type = line.substr(p + 13);
        type.resize(std::min(type.size(), type.find(';')));
        FContentTypes.push_back(type);
    }
}

// After the headers: a part without a name is skipped; a value part waits for its boundary; a
// file part gets its upload file now, and its pairs go into the form data at once.
void TMultipartDecoder::StartPart() {
    if (FName.empty()) return;
    const std::string name = NameInData(FName);
    for (const std::string& type : FContentTypes)
        FPending += name + "_CONTENT_TYPE=" + URLEncode(type) + "&";
    if (FFileName.empty() && !FUnclosedFileName) {
        FValuePart = true;
        return;
    }
    if (FMaxFiles > 0 && FUploadFiles.Count() >= FMaxFiles) {
        // Each file costs a file in TempDir and an attachment: a post of thousands is refused
        // before any more are made.
        FRefused = TMultipartOutcome::TooManyFiles;
        return;
    }
    TUploadFile upload = CreateUploadFile(FTempDir, FFileName);
    FUpload = std::move(upload.Stream);
    FUploadFiles.Add(upload.Path);
    RemoveOnEndSignal(upload.Path);
    FData += FPending + name + "=" + URLEncode(FFileName) + "&" + name + "_FILENAME=" + URLEncode(upload.Path) + "&";
    FPending.clear();
}

// The scan reached the end of the ring's room: all but the last FKeep scanned bytes may leave
// the ring. A file part writes them in whole blocks (the rest stays for the next time). A value
// part this long ends the decoding: kept, it would cost memory the ring is there to bound; left
// out, the post would go out with a field missing.
void TMultipartDecoder::Slice() {
    int n = FRing.Offset - FKeep - 1;
    if (FUpload) {
        if (!FAligned) FRing.MoveToFront();  // the part's first block starts at index 0
        FAligned = true;
        const int block = std::min(kWriteBlock, FRing.Size() / 2);
        n -= n % block;
        FRing.WriteTo(0, n, *FUpload);
    } else if (FValuePart) {
        FRefused = TMultipartOutcome::TextTooLong;
        return;
    }
    FRing.Consume(n);
}

// The body is used up (or failed). An unfinished file part keeps the bytes that arrived; an
// unfinished value part is dropped. A failed body leaves no form data.
void TMultipartDecoder::Finish() {
    if (FRing.Failed()) {
        FUpload.reset();
        FData.clear();
        return;
    }
    if (FUpload) FRing.WriteTo(0, FRing.Avail(), *FUpload);
    ClearPart();
}

void TMultipartDecoder::ClearPart() {
    FUpload.reset();
    FName.clear();
    FFileName.clear();
    FContentTypes.clear();
    FPending.clear();
    FAligned = false;
    FValuePart = false;
    FUnclosedFileName = false;
}

}  // namespace

TMultipartOutcome ParseMultipartWithRing(std::string& data, const std::string& tempDir, TStringList& uploadFiles,
                                         int ringSize, int maxFiles) {
    const int64_t length = std::max(0, StrToIntDef(AdaptGetVariable("CONTENT_LENGTH"), 0));
    return TMultipartDecoder(data, tempDir, uploadFiles, ringSize, length, maxFiles).Run();
}

TMultipartOutcome ParseMultipart(std::string& data, const std::string& tempDir, TStringList& uploadFiles, int maxFiles) {
    return ParseMultipartWithRing(data, tempDir, uploadFiles, MultipartRingSize, maxFiles);
}

}  // namespace velmora
