// Example CGI program that answers with a GIF image drawn in code:
//   gifimage?count=1234&digits=6     a page counter: the number in block digits (digits pads
//                                    with zeros)
//   gifimage?width=200&height=100&colors=16&interlaced=1&transparent=1&frames=8
//                                    a test pattern; every field may be left out (64 by 64,
//                                    16 colours, one frame); with frames above 1 an endless
//                                    animation
// A bad or too large value gets an HTML page that says which field is wrong, never an image.
//
// The counter goes out through WriteGifImage, the one-call way to answer with a bitmap. The
// pattern builds a frame list and writes it through a THttpStream, the way to animations,
// interlacing and transparency.
#include <memory>
#include <vector>

#include "Forms.h"
#include "GenEng.h"
#include "HAdaptor.h"
#include "HGIFImage.h"
#include "ImageDraw.h"
#include "ImageQuery.h"
#include "UnitStartup.h"

using namespace velmora;
using namespace velmora::example;

class TGifImageForm : public TForm {
public:
    explicit TGifImageForm(TComponent* owner) : TForm(owner) {
        SetCaption("GIF image");
        HTTP = new TGeneralHttpEngine(this);
        HTTP->SetName("HTTP");
        HTTP->SetOnExecRequest([this](TObject*) { HTTPExecRequest(); });
    }

    TGeneralHttpEngine* HTTP;

private:
    void HTTPExecRequest() {
        TImageQuery query;
        std::string error;
        if (!ParseImageQuery([this](const std::string& name) { return HTTP->GetFormField(name, NotAvailable); },
                             query, error)) {
            WriteErrorPage(error);
            return;
        }
        if (query.Counter)
            WriteGifImage(DrawCounter(query.Count));
        else
            WritePattern(query);
    }

    // The message is made only of our own words and numbers, never of the visitor's text.
    void WriteErrorPage(const std::string& error) {
        HTTP->Write("<html><head><title>Bad image request</title></head><body>\r\n"
                    "<h1>Bad image request</h1>\r\n<p>" + error + "</p>\r\n</body></html>\r\n");
    }

    // All frames share one table (a pattern never has more than 256 colours); the first
    // colour is the transparent one when asked for.
    void WritePattern(const TImageQuery& q) {
        std::vector<TBitmap> bitmaps;
        std::vector<TGifFrame> frames(static_cast<size_t>(q.Frames));
        bitmaps.reserve(frames.size());
        TGifFrameList list;
        list.Count = q.Frames;
        list.GlobalPalette = true;
        list.LoopCount = 0;
        for (int i = 0; i < q.Frames; ++i) {
            bitmaps.push_back(DrawPattern(q, i));
            TGifFrame& f = frames[static_cast<size_t>(i)];
            f.Bitmap = &bitmaps.back();
            f.Delay = 200;
            f.Interlaced = q.Interlaced;
            f.Transparent = q.Transparent;
            f.TransparentColor = PatternColor(0);
            list.Frames[static_cast<size_t>(i)] = &f;
        }
        AdaptSetContentKind(2);  // the automatic header announces image/gif
        THttpStream stream;
        stream.WriteGif(list);
    }
};

int main(int argc, char** argv) {
    StartFrameworkUnits(argc, argv);
    Application().CreateForm<TGifImageForm>();
    if (CurrentEngine()) Application().Run();
    return 0;
}
