// THttpFileFilter: finds and opens the template file and feeds it to the text filter piece by
// piece. Failures to find or open it become the component's own messages.
#include "HttpFileFilter.h"

#include <algorithm>
#include <memory>

#include "EnvPaths.h"
#include "FilterConditions.h"
#include "FilterOutput.h"
#include "Files.h"
#include "SysUtils.h"

namespace velmora {

std::string DefaultTemplateName(const std::string& programPath) {
    // Only a dot in the program's own name counts: a dotted folder ("/srv/www.example/") must
    // not cut the path short.
    size_t nameStart = programPath.rfind('/');
    size_t dot = programPath.find('.', nameStart == std::string::npos ? 0 : nameStart + 1);
    if (dot == std::string::npos) return programPath + ".htm";
    return programPath.substr(0, dot + 1) + "htm";
}

std::string ResolveTemplatePath(const std::string& name, const std::string& programPath) {
    if (IsAbsolutePath(name)) return name;
    return ExtractFilePath(programPath) + name;
}

std::string THttpFileFilter::FileName() const {
    std::lock_guard<std::mutex> guard(FLock);
    return FFileName;
}

void THttpFileFilter::SetFileName(const std::string& name) {
    std::lock_guard<std::mutex> guard(FLock);
    FFileName = name;
}

std::string THttpFileFilter::TemplatePath() {
    std::string program = ModuleFileName();
    std::lock_guard<std::mutex> guard(FLock);
    // The default is kept for good, as if it had been set.
    if (FFileName.empty()) FFileName = DefaultTemplateName(program);
    return ResolveTemplatePath(FFileName, program);
}

void THttpFileFilter::Execute() {
    FilterConditions().Reset();
    std::string path = TemplatePath();
    if (!FileExists(path)) throw Exception(Name() + " : Can not find file named " + path);
    std::unique_ptr<TFileStream> file;
    try {
        file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyNone);
    } catch (const EInOutError&) {
        throw Exception(Name() + " : open error " + path);
    }
    FilterStream(*file);
}

void THttpFileFilter::FilterStream(TStream& stream, size_t piecesPerRead) {
    // Many pieces are read and filtered at a time: FilterBlock keeps an entry that may go on in
    // the next read for the next call, so the page is the same as for pieces taken one by one.
    // The template ends with the first piece shorter than PieceSize, as when read piece by piece.
    const long readSize = PieceSize * static_cast<long>(std::max<size_t>(piecesPerRead, 1));
    TFilterOutput out;
    std::string block;  // the unfiltered rest of the last read, then the new read; grows, never shrinks
    size_t filled = 0;
    bool first = true;
    for (;;) {
        if (block.size() < filled + static_cast<size_t>(readSize)) block.resize(filled + static_cast<size_t>(readSize));
        long got = stream.Read(block.data() + filled, readSize);
        filled += static_cast<size_t>(got);
        bool last = got % PieceSize != 0 || got == 0;
        // An editor's UTF-8 byte-order mark is no page text; first in the output it would even
        // leave the page's first line to be taken as header text.
        size_t skip = first && std::string_view(block.data(), filled).substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        first = false;
        size_t done = skip + FilterBlock(std::string_view(block.data() + skip, filled - skip), last, out);
        if (last) return;
        std::copy(block.begin() + static_cast<long>(done), block.begin() + static_cast<long>(filled), block.begin());
        filled -= done;
    }
}

}  // namespace velmora
