// Running the independent decoders: each gets the GIF as a file and answers on standard output
// or in a file; a refusal is an empty answer with the reason kept for the test's message.
#include "GifDecoders.h"

#include <fstream>
#include <sstream>

#include "ChildProcess.h"
#include "TempDir.h"

namespace velmora::test {

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TChildResult Run(std::vector<std::string> args) {
    TChildRun run;
    run.Args = std::move(args);
    run.Env = InheritedEnvironment();
    return RunChild(run);
}

}  // namespace

TPilDecode DecodeWithPil(const std::string& gif) {
    TempDir dir;
    std::ofstream(dir / "in.gif", std::ios::binary) << gif;
    TChildResult r = Run({"/usr/bin/python3", VELMORA_SOURCE_DIR "/tests/image/gif_frames.py", dir / "in.gif",
                          dir / "out.rgba"});
    TPilDecode d;
    d.Report = r.Out + r.Err;
    if (r.ExitCode != 0) return d;
    const std::string pixels = ReadFile(dir / "out.rgba");
    std::istringstream lines(r.Out);
    std::string key;
    while (lines >> key) {
        if (key == "size") lines >> d.Width >> d.Height;
        else if (key == "loop") lines >> d.Loop;
        else if (key == "duration") d.Durations.push_back(0), lines >> d.Durations.back();
        else if (key == "comment") {
            size_t n = 0;
            std::string hex;
            lines >> n;
            if (n > 0) lines >> hex;
            d.Comments.push_back(Unhex(hex));
        }
        else if (key == "frames") lines >> key;  // the count is the number of pictures below
    }
    const size_t frameSize = static_cast<size_t>(d.Width) * static_cast<size_t>(d.Height) * 4;
    for (size_t at = 0; frameSize > 0 && at + frameSize <= pixels.size(); at += frameSize)
        d.FramesRgba.push_back(pixels.substr(at, frameSize));
    d.Ok = !d.FramesRgba.empty();
    return d;
}

std::string DecodeWithGif2rgb(const std::string& gif, std::string& report) {
    TempDir dir;
    std::ofstream(dir / "in.gif", std::ios::binary) << gif;
    TChildResult r = Run({"/usr/bin/gif2rgb", "-1", "-o", dir / "out.rgb", dir / "in.gif"});
    report = r.Out + r.Err;
    return r.ExitCode == 0 ? ReadFile(dir / "out.rgb") : std::string();
}

std::string GifText(const std::string& gif) {
    TempDir dir;
    std::ofstream(dir / "in.gif", std::ios::binary) << gif;
    TChildResult r = Run({"/usr/bin/giftext", dir / "in.gif"});
    return r.ExitCode == 0 ? r.Out : std::string();
}

std::string BitmapRgba(const TBitmap& bitmap, TColor transparent) {
    std::string out;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TColor c = bitmap.Pixel(x, y);
            out += {static_cast<char>(GetRValue(c)), static_cast<char>(GetGValue(c)),
                    static_cast<char>(GetBValue(c)), static_cast<char>(c == transparent ? 0 : 255)};
        }
    return out;
}

std::string BitmapRgb(const TBitmap& bitmap) {
    std::string out;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            const TColor c = bitmap.Pixel(x, y);
            out += {static_cast<char>(GetRValue(c)), static_cast<char>(GetGValue(c)), static_cast<char>(GetBValue(c))};
        }
    return out;
}

}  // namespace velmora::test
