// The pieces of the proof-of-work rule on their own: the payload decoder on hostile input, the
// canonical JSON the signature covers, the single-use record, and the own SHA-256 digests
// (against published vectors and OpenSSL).
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <ctime>
#include <iostream>
#include <random>
#include <thread>

#include "AltchaCheck.h"
#include "AltchaPayload.h"
#include "Base64Decode.h"
#include "JsonCanonical.h"
#include "Sha256.h"
#include "MailEncoding.h"
#include "ReplayStore.h"
#include "TempDir.h"

using namespace velmora;
using namespace velmora::test;

namespace {

const char* const kSolution = R"("solution":{"counter":7,"derivedKey":"00ab","time":12.5})";
std::string Payload(const std::string& parameters, const std::string& solution = kSolution) {
    return EncodeBase64(R"({"challenge":{"parameters":)" + parameters + R"(,"signature":"abcd"},)" + solution + "}");
}
const char* const kParameters =
    R"({"algorithm":"PBKDF2/SHA-256","cost":5000,"expiresAt":1800000000,"keyLength":32,"keyPrefix":"00","nonce":"0a","salt":"0b"})";

}  // namespace

TEST(AltchaRules, PayloadDecoderRefusesEveryMalformedShape) {
    struct {
        const char* name;
        std::string field;
        const char* fault;  // "" when decoded
    } const rows[] = {
        {"well formed", Payload(kParameters), ""},
        {"too long", std::string(kMaxAltchaPayload + 4, 'A'), "malformed (too long)"},
        {"no padding", Payload(kParameters).substr(0, Payload(kParameters).find('=')), "malformed (not base64)"},
        {"line break inside", Payload(kParameters).insert(8, "\n"), "malformed (not base64)"},
        {"not JSON", EncodeBase64("{\"challenge\":"), "malformed (not JSON)"},
        {"trailing garbage", EncodeBase64("{} x"), "malformed (not JSON)"},
        {"deep nesting", EncodeBase64(std::string(1000, '[') + std::string(1000, ']')), "malformed (not JSON)"},
        {"name twice", EncodeBase64(R"({"challenge":{},"challenge":{}})"), "malformed (not JSON)"},
        {"lone surrogate", EncodeBase64(R"({"a":"\ud800"})"), "malformed (not JSON)"},
        {"test mode", EncodeBase64(R"({"challenge":null,"solution":null,"test":true})"), "malformed (no challenge)"},
        {"cost as text", Payload(R"({"algorithm":"x","cost":"5","keyLength":32,"keyPrefix":"0","nonce":"","salt":""})"),
         "malformed (parameters)"},
        {"cost with a fraction", Payload(R"({"algorithm":"x","cost":5.5,"keyLength":32,"keyPrefix":"0","nonce":"","salt":""})"),
         "malformed (parameters)"},
        {"cost beyond 2^53", Payload(R"({"algorithm":"x","cost":9007199254740993,"keyLength":32,"keyPrefix":"0","nonce":"","salt":""})"),
         "malformed (parameters)"},
        {"negative expiry", Payload(R"({"algorithm":"x","cost":5,"expiresAt":-1,"keyLength":32,"keyPrefix":"0","nonce":"","salt":""})"),
         "malformed (expiresAt)"},
        {"counter beyond 32 bits", Payload(kParameters, R"("solution":{"counter":4294967296,"derivedKey":"00"})"),
         "malformed (solution)"},
        {"upper-case key", Payload(kParameters, R"("solution":{"counter":1,"derivedKey":"AB"})"), "malformed (solution)"},
        {"odd key", Payload(kParameters, R"("solution":{"counter":1,"derivedKey":"abc"})"), "malformed (solution)"},
    };
    for (const auto& row : rows) {
        TAltchaPayload p;
        EXPECT_EQ(DecodeAltchaPayload(row.field, p), row.fault) << row.name;
    }
    TAltchaPayload p;
    ASSERT_EQ(DecodeAltchaPayload(Payload(kParameters), p), "");
    EXPECT_EQ(p.Cost, 5000u);
    EXPECT_EQ(p.ExpiresAt, 1800000000u);
    EXPECT_EQ(p.Counter, 7u);
    EXPECT_EQ(p.DerivedKey, "00ab");
}

TEST(AltchaRules, CanonicalJsonIsWhatJavaScriptWrites) {
    // Each right-hand side is what JSON.stringify gives for the left-hand side with sorted names,
    // or "" where velmora refuses to guess it.
    struct {
        const char* in;
        const char* out;
    } const rows[] = {
        {R"( { "b" : 1 , "a" : [ true , null , false ] } )", R"({"a":[true,null,false],"b":1})"},
        {R"({"s":"\u00fc\/\u2028\t\u0001\"\\"})", "{\"s\":\"\xC3\xBC/\xE2\x80\xA8\\t\\u0001\\\"\\\\\"}"},
        {R"({"\ud83d\ude00":1,"\uffff":2,"Z":3,"a":4})", "{\"Z\":3,\"a\":4,\"\xF0\x9F\x98\x80\":1,\"\xEF\xBF\xBF\":2}"},
        {R"({"n":[0,-7,123456789012345]})", R"({"n":[0,-7,123456789012345]})"},
        // JSON.stringify writes [0,1.5,2000]: a number that is no plain integer has no agreed text.
        {R"({"n":[-0,1.50,2e+3]})", ""},
    };
    for (const auto& row : rows) {
        std::optional<TJsonValue> v = ParseJson(row.in);
        ASSERT_TRUE(v) << row.in;
        EXPECT_EQ(CanonicalJson(*v), row.out) << row.in;
    }
}

TEST(AltchaRules, Base64DecoderTakesOnlyWhatBtoaWrites) {
    std::string out;
    EXPECT_TRUE(DecodeBase64Strict("aGk=", out));
    EXPECT_EQ(out, "hi");
    EXPECT_TRUE(DecodeBase64Strict("aGkh", out));
    EXPECT_EQ(out, "hi!");
    for (const char* bad : {"aGk", "aGl=", "a===", "aG=k", "aG-_", "aGk=aGk="}) EXPECT_FALSE(DecodeBase64Strict(bad, out)) << bad;
}

TEST(AltchaRules, AChallengeIsClaimedOnceUntilItExpires) {
    TempDir dir;
    std::string file = dir.Path() + "/VELMORA.USED";
    const int64_t now = 1800000000;
    struct {
        const char* key;
        int64_t expires, at;
        EClaim want;
    } const steps[] = {
        {"aa01", now + 600, now, EClaim::Claimed},
        {"aa01", now + 600, now + 1, EClaim::AlreadyUsed},
        {"bb02", now + 10, now + 2, EClaim::Claimed},
        {"bb02", now + 10, now + 20, EClaim::Claimed},  // its first claim expired and was pruned
        {"aa01", now + 600, now + 599, EClaim::AlreadyUsed},
        {"zz!\n", now + 600, now, EClaim::Unavailable},  // nothing of it is a signature
    };
    for (const auto& s : steps) EXPECT_EQ(ClaimOnceInFile(file, s.key, s.expires, s.at), s.want) << s.key << " at " << s.at;
    EXPECT_EQ(ClaimOnceInFile(dir.Path() + "/no/such/folder/USED", "aa", now, now), EClaim::Unavailable);

    // Claims of many threads at once: each key is claimed exactly once.
    std::atomic<int> claimed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int k = 0; k < 50; ++k)
                if (ClaimOnceInFile(file, "c" + std::to_string(k % 10) + "d", now + 600, now) == EClaim::Claimed) ++claimed;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(claimed, 10);
}

TEST(AltchaRules, OwnDigestsMatchOpenSsl) {
    // Published vectors first (RFC 4231 case 2, RFC 7914's PBKDF2-HMAC-SHA256), then random
    // inputs of every length around the block edges against libcrypto, on both compression paths.
    EXPECT_EQ(HexDigits(HmacSha256("Jefe", "what do ya want for nothing?")),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    EXPECT_EQ(HexDigits(Pbkdf2Sha256("passwd", "salt", 1, 64)),
              "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"
              "49ca9cccf179b645991664b39d77ef317c71b845b1e30bd509112041d3a19783");
    std::mt19937 random(27);
    auto bytes = [&](size_t n) {
        std::string s(n, '\0');
        for (char& c : s) c = static_cast<char>(random());
        return s;
    };
    for (bool ni : {true, false}) {
        UseShaInstructions(ni);
        for (size_t n = 0; n < 200; ++n) {
            std::string key = bytes(n % 3 == 0 ? n : n % 70), data = bytes(n);
            unsigned char mac[32];
            unsigned macLength = 0;
            HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(data.data()),
                 data.size(), mac, &macLength);
            ASSERT_EQ(HmacSha256(key, data), std::string(reinterpret_cast<char*>(mac), macLength)) << "n " << n << " ni " << ni;
        }
        for (unsigned rounds : {1u, 2u, 1000u}) {
            std::string password = bytes(16 + rounds % 7), salt = bytes(16);
            std::string want(70, '\0');
            PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                              reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                              static_cast<int>(rounds), EVP_sha256(), static_cast<int>(want.size()),
                              reinterpret_cast<unsigned char*>(want.data()));
            EXPECT_EQ(Pbkdf2Sha256(password, salt, rounds, 70), want) << rounds << " rounds, ni " << ni;
        }
    }
    UseShaInstructions(true);
    std::cout << "[ sha256 ] processor's SHA instructions " << (HasShaInstructions() ? "used" : "absent") << "\n";
    EXPECT_TRUE(ConstantTimeEqual("abc", "abc"));
    EXPECT_FALSE(ConstantTimeEqual("abc", "abd"));
    EXPECT_FALSE(ConstantTimeEqual("abc", "ab"));
}

TEST(AltchaRules, ChallengesIssuedHereAreSolvedAndCheckedHere) {
    TAltchaSettings s;
    s.HmacKey = "a-key-of-enough-length";
    s.Cost = 10;
    s.PrefixDigits = 1;
    const int64_t now = std::time(nullptr);
    std::string challenge = IssueAltchaChallenge(s, now);
    std::optional<TJsonValue> v = ParseJson(challenge);
    ASSERT_TRUE(v) << challenge;
    const TJsonValue* parameters = v->Member("parameters");
    ASSERT_TRUE(parameters);
    std::string nonce = parameters->Member("nonce")->Text, salt = parameters->Member("salt")->Text;
    auto bytes = [](const std::string& hex) {
        std::string out;
        for (size_t i = 0; i < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        return out;
    };
    // Solved here by brute force as the widget does: counter after counter until the key starts with "0".
    std::string key;
    uint32_t counter = 0;
    for (;; ++counter) {
        std::string password = bytes(nonce) + std::string{static_cast<char>(counter >> 24), static_cast<char>(counter >> 16),
                                                          static_cast<char>(counter >> 8), static_cast<char>(counter)};
        key = Pbkdf2Sha256(password, bytes(salt), 10, 32);
        if (HexDigits(key)[0] == '0') break;
    }
    std::string payload = EncodeBase64("{\"challenge\":" + challenge + ",\"solution\":{\"counter\":" + std::to_string(counter) +
                                       ",\"derivedKey\":\"" + HexDigits(key) + "\"}}");
    int claims = 0;
    auto claim = [&](const std::string&, int64_t) { return ++claims == 1 ? EClaim::Claimed : EClaim::AlreadyUsed; };
    EXPECT_EQ(CheckAltchaPayload(s, payload, now, claim), "");
    EXPECT_EQ(CheckAltchaPayload(s, payload, now, claim), "replayed");
    EXPECT_EQ(CheckAltchaPayload(s, payload, now + s.ExpiresSeconds + 1, claim), "expired");
    TAltchaSettings slow = s;
    slow.MinFillSeconds = 5;
    EXPECT_EQ(CheckAltchaPayload(slow, payload, now + 2, claim), "too fast (2s < 5s)");
    TAltchaSettings other = s;
    other.HmacKey = "another-key-of-enough-length";
    EXPECT_EQ(CheckAltchaPayload(other, payload, now, claim), "forged");
    EXPECT_EQ(CheckAltchaPayload(s, "", now, claim), "missing");
    EXPECT_EQ(claims, 2);  // only solutions that passed every other check were claimed
}
