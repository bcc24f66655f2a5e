// FIPS 180-4 SHA-256, HMAC (RFC 2104) and PBKDF2 (RFC 8018). PBKDF2 keeps the key's inner and
// outer HMAC states once computed, so each round costs two compressions, as OpenSSL's does.
#include "Sha256.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "Sha256Ni.h"

namespace velmora {

namespace {

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
}  // namespace

alignas(16) const uint32_t kSha256Rounds[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

namespace {

std::atomic<bool> UseNi{CpuHasShaNi()};

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

uint32_t GetBigEndian(const uint8_t* in) {
    return uint32_t{in[0]} << 24 | uint32_t{in[1]} << 16 | uint32_t{in[2]} << 8 | uint32_t{in[3]};
}

void CompressPortable(uint32_t state[8], const uint8_t* block) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t)
        w[t] = GetBigEndian(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
        uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kSha256Rounds[t] + w[t];
        uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
}

void PutBigEndian(uint32_t v, uint8_t* out) {
    out[0] = static_cast<uint8_t>(v >> 24);
    out[1] = static_cast<uint8_t>(v >> 16);
    out[2] = static_cast<uint8_t>(v >> 8);
    out[3] = static_cast<uint8_t>(v);
}

// A key's two HMAC states: the hash after its inner (0x36) and outer (0x5c) padded block.
struct THmacKey {
    uint32_t Inner[8], Outer[8];
    explicit THmacKey(std::string_view key) {
        uint8_t block[64] = {};
        if (key.size() > 64) {
            TSha256 h;
            h.Update(key);
            auto digest = h.Final();
            std::memcpy(block, digest.data(), digest.size());
        } else {
            std::memcpy(block, key.data(), key.size());
        }
        uint8_t pad[64];
        for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x36;
        std::memcpy(Inner, kInitial, sizeof Inner);
        TSha256::Compress(Inner, pad, 1);
        for (int i = 0; i < 64; ++i) pad[i] = block[i] ^ 0x5c;
        std::memcpy(Outer, kInitial, sizeof Outer);
        TSha256::Compress(Outer, pad, 1);
    }
    // HMAC of a 32-byte message, the step of every PBKDF2 round: one block from each state.
    void Digest32(const uint8_t in[32], uint8_t out[32]) const {
        uint8_t block[64] = {};
        std::memcpy(block, in, 32);
        block[32] = 0x80;
        block[62] = 0x03;  // (64 + 32) * 8 bits = 768
        uint32_t s[8];
        std::memcpy(s, Inner, sizeof s);
        TSha256::Compress(s, block, 1);
        for (int i = 0; i < 8; ++i) PutBigEndian(s[i], block + 4 * i);
        std::memcpy(s, Outer, sizeof s);
        TSha256::Compress(s, block, 1);
        for (int i = 0; i < 8; ++i) PutBigEndian(s[i], out + 4 * i);
    }
};

// HMAC of any message from a key's states.
std::array<uint8_t, 32> HmacOf(const THmacKey& key, std::string_view a, std::string_view b = {}) {
    TSha256 h = TSha256::FromState(key.Inner, 64);
    h.Update(a);
    h.Update(b);
    auto innerDigest = h.Final();
    TSha256 o = TSha256::FromState(key.Outer, 64);
    o.Update(std::string_view(reinterpret_cast<const char*>(innerDigest.data()), innerDigest.size()));
    return o.Final();
}

// PBKDF2's later rounds on the SHA instructions, digest words kept in registers between them.
void RoundsInRegisters(const THmacKey& key, std::array<uint8_t, 32>& u, std::array<uint8_t, 32>& t, unsigned rounds) {
    uint32_t uw[8], tw[8];
    for (int i = 0; i < 8; ++i) {
        uw[i] = GetBigEndian(u.data() + 4 * i);
        tw[i] = GetBigEndian(t.data() + 4 * i);
    }
    Pbkdf2RoundsShaNi(key.Inner, key.Outer, uw, tw, rounds);
    for (int i = 0; i < 8; ++i) {
        PutBigEndian(uw[i], u.data() + 4 * i);
        PutBigEndian(tw[i], t.data() + 4 * i);
    }
}

}  // namespace

TSha256::TSha256() { std::memcpy(FState, kInitial, sizeof FState); }

TSha256 TSha256::FromState(const uint32_t state[8], uint64_t length) {
    TSha256 h;
    std::memcpy(h.FState, state, sizeof h.FState);
    h.FLength = length;
    return h;
}

void TSha256::Compress(uint32_t state[8], const uint8_t* blocks, size_t count) {
    if (UseNi.load(std::memory_order_relaxed)) return CompressShaNi(state, blocks, count);
    for (; count > 0; --count, blocks += 64) CompressPortable(state, blocks);
}

void TSha256::Update(std::string_view data) {
    // An empty view may have no address at all, and memcpy must not be handed a null one.
    if (data.empty()) return;
    auto p = reinterpret_cast<const uint8_t*>(data.data());
    size_t n = data.size();
    FLength += n;
    if (FFill > 0) {
        size_t take = std::min(n, 64 - FFill);
        std::memcpy(FBuffer + FFill, p, take);
        FFill += take, p += take, n -= take;
        if (FFill < 64) return;
        Compress(FState, FBuffer, 1);
        FFill = 0;
    }
    Compress(FState, p, n / 64);
    std::memcpy(FBuffer, p + n / 64 * 64, n % 64);
    FFill = n % 64;
}

std::array<uint8_t, 32> TSha256::Final() {
    uint64_t bits = FLength * 8;
    uint8_t tail[72] = {0x80};
    size_t pad = (FFill < 56 ? 56 : 120) - FFill;
    for (int i = 0; i < 8; ++i) tail[pad + static_cast<size_t>(i)] = static_cast<uint8_t>(bits >> (56 - 8 * i));
    Update(std::string_view(reinterpret_cast<const char*>(tail), pad + 8));
    std::array<uint8_t, 32> out;
    for (int i = 0; i < 8; ++i) PutBigEndian(FState[i], out.data() + 4 * i);
    return out;
}

std::string HmacSha256(std::string_view key, std::string_view data) {
    auto mac = HmacOf(THmacKey(key), data);
    return std::string(reinterpret_cast<const char*>(mac.data()), mac.size());
}

std::string Pbkdf2Sha256(std::string_view password, std::string_view salt, unsigned iterations, size_t length) {
    THmacKey key(password);
    std::string out;
    for (uint32_t block = 1; out.size() < length; ++block) {
        uint8_t index[4];
        PutBigEndian(block, index);
        std::array<uint8_t, 32> u = HmacOf(key, salt, std::string_view(reinterpret_cast<const char*>(index), 4));
        std::array<uint8_t, 32> t = u;
        if (UseNi.load(std::memory_order_relaxed)) {
            RoundsInRegisters(key, u, t, iterations - 1);
        } else {
            for (unsigned i = 1; i < iterations; ++i) {
                key.Digest32(u.data(), u.data());
                for (size_t k = 0; k < 32; ++k) t[k] ^= u[k];
            }
        }
        out.append(reinterpret_cast<const char*>(t.data()), std::min<size_t>(32, length - out.size()));
    }
    return out;
}

std::string HexDigits(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

bool ConstantTimeEqual(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    unsigned char diff = 0;
    for (size_t i = 0; i < a.size(); ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

void UseShaInstructions(bool use) { UseNi = use && CpuHasShaNi(); }
bool HasShaInstructions() { return CpuHasShaNi(); }

}  // namespace velmora
