// The pieces of the proof-of-work rule on their own: the payload decoder on hostile input, the
// canonical JSON the signature covers, the single-use record, and the digests the TLS module
// lends (against published test vectors).
#include <gtest/gtest.h>

#include <ctime>
#include <thread>

#include "AltchaCheck.h"
#include "AltchaPayload.h"
#include "Base64Decode.h"
#include "JsonValue.h"
#include "KeyedDigest.h"
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
    // Each right-hand side is what JSON.stringify gives for the left-hand side with sorted names.
    struct {
        const char* in;
        const char* out;
    } const rows[] = {
        {R"( { "b" : 1 , "a" : [ true , null , false ] } )", R"({"a":[true,null,false],"b":1})"},
        {R"({"s":"\u00fc\/\u2028\t\u0001\"\\"})", "{\"s\":\"\xC3\xBC/\xE2\x80\xA8\\t\\u0001\\\"\\\\\"}"},
        {R"({"\ud83d\ude00":1,"\uffff":2,"Z":3,"a":4})", "{\"Z\":3,\"a\":4,\"\xF0\x9F\x98\x80\":1,\"\xEF\xBF\xBF\":2}"},
        {R"({"n":[-0,1.50,2e+3]})", R"({"n":[-0,1.50,2e+3]})"},
    };
    for (const auto& row : rows) {
        TJsonValue v;
        ASSERT_TRUE(ParseJson(row.in, v)) << row.in;
        EXPECT_EQ(CanonicalJson(v), row.out) << row.in;
    }
    const char* const refused[] = {"", "01", "1.", ".5", "[1,]", "{\"a\" 1}", "\"\t\"", "\"\xC0\xAF\"", "tru", "[\"\\x\"]"};
    for (const char* text : refused) {
        TJsonValue v;
        EXPECT_FALSE(ParseJson(text, v)) << text;
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

TEST(AltchaRules, DigestsMatchPublishedVectors) {
    struct {
        const char* name;
        std::string got;
        const char* want;
    } rows[3];
    std::string mac, key1, key2;
    ASSERT_TRUE(HmacSha256("Jefe", "what do ya want for nothing?", mac));  // RFC 4231, case 2
    ASSERT_TRUE(Pbkdf2Sha256("password", "salt", 1, 32, key1));
    ASSERT_TRUE(Pbkdf2Sha256("password", "salt", 4096, 32, key2));
    rows[0] = {"HMAC", HexDigits(mac), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"};
    rows[1] = {"PBKDF2 c=1", HexDigits(key1), "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"};
    rows[2] = {"PBKDF2 c=4096", HexDigits(key2), "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"};
    for (const auto& row : rows) EXPECT_EQ(row.got, row.want) << row.name;
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
    TJsonValue v;
    ASSERT_TRUE(ParseJson(challenge, v)) << challenge;
    const TJsonValue* parameters = v.Find("parameters");
    ASSERT_TRUE(parameters);
    std::string nonce = parameters->Find("nonce")->Text, salt = parameters->Find("salt")->Text;
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
        ASSERT_TRUE(Pbkdf2Sha256(password, bytes(salt), 10, 32, key));
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
