// What the image example is asked to draw, read from the request's fields: a page counter
// (count, digits) or a test pattern (width, height, colors, interlaced, transparent, frames).
// Every value is the visitor's: strict digits, fixed ranges and a cap on the pixels drawn.
#pragma once

#include <functional>
#include <string>

namespace velmora::example {

// The most pixels one request may make, all frames together (about 12 MB of bitmap): a visitor
// cannot make the program allocate more than this, whatever the query says.
constexpr long long MaxImagePixels = 4'000'000;
constexpr int MaxSide = 4096, MaxFrames = 32, MaxDigits = 20;

struct TImageQuery {
    bool Counter = false;
    std::string Count;        // the counter's digits, padded with zeros to Digits
    int Digits = 1;
    int Width = 64, Height = 64, Colors = 16, Frames = 1;
    bool Interlaced = false, Transparent = false;
};

// Looks a field up by name; gives the marker NotAvailable when the request has no such field.
using TFieldLookup = std::function<std::string(const std::string& name)>;

// False with a sentence for the visitor in error when a value is malformed or out of range.
bool ParseImageQuery(const TFieldLookup& field, TImageQuery& query, std::string& error);

}  // namespace velmora::example
