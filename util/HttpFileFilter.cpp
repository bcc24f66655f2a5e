// THttpFileFilter: finds and opens the template file and feeds it to the text filter piece by
// piece. Failures to find or open it become the component's own messages.
#include "HttpFileFilter.h"

#include <algorithm>
#include <memory>

#include "EnvPaths.h"
#include "FilterConditions.h"
#include "Files.h"
#include "SysUtils.h"

namespace velmora {

std::string DefaultTemplateName(const std::string& programPath) {
    size_t dot = programPath.find('.');
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

void THttpFileFilter::FilterStream(TStream& stream) {
    // The stream is read a few hundred pieces at a time to spare system calls; the pieces are
    // then taken from that buffer one by one, as if each had been read on its own.
    std::string buffer(PieceSize * 256, '\0');
    std::string block;
    for (;;) {
        long got = stream.Read(buffer.data(), static_cast<long>(buffer.size()));
        for (long at = 0;; at += PieceSize) {
            long n = std::min(PieceSize, got - at);
            block.append(buffer, static_cast<size_t>(at), static_cast<size_t>(n));
            if (n < PieceSize) {
                FilterBlock(block, true);
                return;
            }
            block.erase(0, FilterBlock(block, false));
            if (at + PieceSize == got) break;
        }
    }
}

}  // namespace velmora
