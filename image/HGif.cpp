// EncodeGif: every frame is indexed before the first byte is written, so a frame that does not
// fit its colour table leaves the stream untouched; then header, screen, loop extension, frames
// (comment, graphic control, descriptor, own table, image data), closing comment and trailer.
#include "HGif.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "GifLzw.h"
#include "GifOutput.h"
#include "GifPalette.h"

namespace velmora {

const char* const GifEncoderComment = "Written by the Velmora GIF encoder";

namespace {

constexpr int kMaxSide = 65535;  // the format's 16-bit sizes and positions

struct TFramePlan {
    const TGifFrame* Frame = nullptr;
    int Left = 0, Top = 0;
    std::vector<uint8_t> Indices;
    std::unique_ptr<TGifPalette> OwnPalette;  // null when the frame uses the global table
    int TransparentIndex = -1;
};

bool HasPixels(const TGifFrame* f) {
    return f && f->Bitmap && f->Bitmap->Width() > 0 && f->Bitmap->Height() > 0;
}

// Positions and the logical screen; false when the list cannot be a GIF at all.
bool PlanFrames(const TGifFrameList& list, std::vector<TFramePlan>& plans, int& screenW, int& screenH) {
    if (list.Count < 1 || list.Count > TGifFrameList::MaxFrames) return false;
    plans.resize(static_cast<size_t>(list.Count));
    screenW = screenH = 0;
    for (int i = 0; i < list.Count; ++i) {
        const TGifFrame* f = list.Frames[static_cast<size_t>(i)];
        if (!HasPixels(f)) return false;
        TFramePlan& p = plans[static_cast<size_t>(i)];
        p.Frame = f;
        p.Left = std::max(f->FrameLeft, 0);
        p.Top = std::max(f->FrameTop, 0);
        const int64_t right = int64_t{p.Left} + f->Bitmap->Width();
        const int64_t bottom = int64_t{p.Top} + f->Bitmap->Height();
        if (right > kMaxSide || bottom > kMaxSide) return false;
        screenW = std::max(screenW, static_cast<int>(right));
        screenH = std::max(screenH, static_cast<int>(bottom));
    }
    return true;
}

// One shared table when there is one frame or the list asks for it and all frames fit; else a
// table per frame. False when a frame does not fit even its own table.
bool IndexFrames(const TGifFrameList& list, std::vector<TFramePlan>& plans, TGifPalette& global,
                 bool& shared) {
    shared = list.GlobalPalette || list.Count == 1;
    if (shared) {
        for (size_t i = 0; i < plans.size(); ++i) {
            const TGifFrame& f = *plans[i].Frame;
            if (global.IndexBitmap(*f.Bitmap, f.Interlaced, plans[i].Indices)) continue;
            if (i == 0 || !list.GlobalPalette) return false;
            shared = false;
            break;
        }
    }
    if (!shared) {
        for (TFramePlan& p : plans) {
            p.OwnPalette = std::make_unique<TGifPalette>();
            p.Indices.clear();
            if (!p.OwnPalette->IndexBitmap(*p.Frame->Bitmap, p.Frame->Interlaced, p.Indices)) return false;
        }
    }
    return true;
}

// The transparent index is the index of the first pixel of the frame in the transparent colour;
// colours are unique in a table, so that is the colour's index if any pixel uses it.
void FindTransparentIndex(TFramePlan& p, const TGifPalette& palette) {
    if (!p.Frame->Transparent) return;
    const int i = palette.Find(p.Frame->TransparentColor);
    if (i >= 0 && std::memchr(p.Indices.data(), i, p.Indices.size())) p.TransparentIndex = i;
}

void WriteColorTable(TGifOutput& out, const TGifPalette& palette) {
    uint8_t table[3 * TGifPalette::MaxColors] = {};
    for (int i = 0; i < palette.Count(); ++i) {
        const TColor c = palette.Color(i);
        table[3 * i] = GetRValue(c);
        table[3 * i + 1] = GetGValue(c);
        table[3 * i + 2] = GetBValue(c);
    }
    out.Bytes(table, 3u << palette.Bits());
}

void WriteLoopExtension(TGifOutput& out, uint16_t loopCount) {
    static const uint8_t head[] = {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01};
    out.Bytes(head, sizeof head);
    out.Word(loopCount);
    out.Byte(0x00);
}

// Delays past the 16-bit field are held at its largest value rather than wrapped.
void WriteGraphicControl(TGifOutput& out, const TFramePlan& p) {
    const TGifFrame& f = *p.Frame;
    const int disposal = f.Disposal <= 3 ? f.Disposal : 0;
    const bool transparent = p.TransparentIndex >= 0;
    out.Byte(0x21);
    out.Byte(0xF9);
    out.Byte(0x04);
    out.Byte(static_cast<uint8_t>(disposal * 4 + (transparent ? 1 : 0)));
    out.Word(static_cast<unsigned>(std::clamp(f.Delay / 10, 0, 65535)));
    out.Byte(static_cast<uint8_t>(transparent ? p.TransparentIndex : 0));
    out.Byte(0x00);
}

void WriteImageDescriptor(TGifOutput& out, const TFramePlan& p) {
    out.Byte(0x2C);
    out.Word(static_cast<unsigned>(p.Left));
    out.Word(static_cast<unsigned>(p.Top));
    out.Word(static_cast<unsigned>(p.Frame->Bitmap->Width()));
    out.Word(static_cast<unsigned>(p.Frame->Bitmap->Height()));
    uint8_t flags = p.Frame->Interlaced ? 0x40 : 0x00;
    if (p.OwnPalette) flags = static_cast<uint8_t>(flags | 0x80 | (p.OwnPalette->Bits() - 1));
    out.Byte(flags);
}

}  // namespace

TGifFrameList SingleFrameList(const TGifFrame& frame) {
    TGifFrameList list;
    list.Count = 1;
    list.Frames[0] = &frame;
    list.LoopCount = 0;
    list.GlobalPalette = true;
    return list;
}

bool EncodeGif(TStream& stream, const TGifFrameList& list) {
    std::vector<TFramePlan> plans;
    int screenW = 0, screenH = 0;
    if (!PlanFrames(list, plans, screenW, screenH)) return false;
    auto global = std::make_unique<TGifPalette>();
    bool shared = false;
    if (!IndexFrames(list, plans, *global, shared)) return false;
    for (TFramePlan& p : plans) FindTransparentIndex(p, p.OwnPalette ? *p.OwnPalette : *global);

    auto out = std::make_unique<TGifOutput>(stream);
    out->Bytes("GIF89a", 6);
    out->Word(static_cast<unsigned>(screenW));
    out->Word(static_cast<unsigned>(screenH));
    out->Byte(shared ? static_cast<uint8_t>(0x80 | (global->Bits() - 1)) : 0x00);
    out->Byte(0x00);  // background colour index
    out->Byte(0x00);  // pixel aspect ratio
    if (shared) WriteColorTable(*out, *global);
    if (list.Count > 1) WriteLoopExtension(*out, list.LoopCount);

    auto lzw = std::make_unique<TGifLzw>();
    for (TFramePlan& p : plans) {
        const TGifPalette& palette = p.OwnPalette ? *p.OwnPalette : *global;
        out->CommentExtension(p.Frame->Comment);
        WriteGraphicControl(*out, p);
        WriteImageDescriptor(*out, p);
        if (p.OwnPalette) WriteColorTable(*out, palette);
        lzw->Compress(p.Indices.data(), p.Indices.size(), palette.Bits(), *out);
        std::vector<uint8_t>().swap(p.Indices);  // an animation's buffers go as soon as they are sent
    }
    out->CommentExtension(GifEncoderComment);
    out->Byte(0x3B);
    out->Flush();
    return true;
}

}  // namespace velmora
