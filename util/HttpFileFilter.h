// THttpFileFilter: the template filter fed from a file, named by FileName (beside the program
// unless absolute; by default the program's own name with "htm"), read in pieces of 255 bytes.
#pragma once

#include <mutex>
#include <string>

#include "HttpTextFilter.h"
#include "Streams.h"

namespace velmora {

class THttpFileFilter : public THttpTextFilterComponent {
public:
    explicit THttpFileFilter(TComponent* owner = nullptr) : THttpTextFilterComponent(owner) {}

    // The template file. Guarded, because Execute may fill in the default while another
    // thread reads it; all threads share the one name.
    std::string FileName() const;
    void SetFileName(const std::string& name);

    // Filters the whole template to the current engine, starting outside any IF. Raises an
    // Exception naming the component and the path when the file is missing or cannot be opened;
    // nothing has been written then. Exceptions of handlers and of the engine pass through.
    void Execute();

    // Filters a template read from stream in pieces of PieceSize bytes, piecesPerRead of them at
    // a time, with the calling thread's current condition state; it ends with the first piece
    // shorter than PieceSize. An entry that spans reads is kept whole: only text whose meaning
    // cannot change with what follows is filtered, the rest waits for the next read.
    void FilterStream(TStream& stream, size_t piecesPerRead = 256);
    static constexpr long PieceSize = 255;

private:
    // FileName, set to the default first when empty, made absolute beside the program.
    std::string TemplatePath();

    mutable std::mutex FLock;
    std::string FFileName;
};

// The default template name for a program file: its path up to and including the first "." of
// the file name, followed by "htm" ("/cgi/velmora.bin" -> "/cgi/velmora.htm"); path + ".htm"
// when the file name has no ".".
std::string DefaultTemplateName(const std::string& programPath);

// name when it is absolute, else name in the folder of programPath.
std::string ResolveTemplatePath(const std::string& name, const std::string& programPath);

}  // namespace velmora
