// Fuzz target of ParseImageQuery, fed a query string looked up the way the engine looks up form
// fields. Besides memory errors it checks the ranges and the pixel cap hold for every success,
// and draws and encodes the smaller pictures.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FormData.h"
#include "HAdaptor.h"
#include "HGif.h"
#include "ImageDraw.h"
#include "ImageQuery.h"

using namespace velmora;
using namespace velmora::example;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    const std::string query(reinterpret_cast<const char*>(bytes), size);
    TImageQuery q;
    std::string error;
    const bool ok = ParseImageQuery([&](const std::string& name) { return FindFormValue(name, query, NotAvailable); },
                                    q, error);
    Check(ok == error.empty());
    if (!ok) return 0;
    if (q.Counter) {
        Check(!q.Count.empty() && q.Count.size() <= MaxDigits);
        for (char c : q.Count) Check(c >= '0' && c <= '9');
        TBitmap b = DrawCounter(q.Count);
        TGifFrame f;
        f.Bitmap = &b;
        TMemoryStream out;
        Check(EncodeGif(out, SingleFrameList(f)));
        return 0;
    }
    Check(q.Width >= 1 && q.Width <= MaxSide && q.Height >= 1 && q.Height <= MaxSide);
    Check(q.Colors >= 2 && q.Colors <= 256 && q.Frames >= 1 && q.Frames <= MaxFrames);
    Check(static_cast<long long>(q.Width) * q.Height * q.Frames <= MaxImagePixels);
    if (static_cast<long long>(q.Width) * q.Height > 4096) return 0;
    TBitmap b = DrawPattern(q, q.Frames - 1);
    TGifFrame f;
    f.Bitmap = &b;
    f.Interlaced = q.Interlaced;
    f.Transparent = q.Transparent;
    TMemoryStream out;
    Check(EncodeGif(out, SingleFrameList(f)));
    return 0;
}
