// Exceptions and the small 8-bit string helpers every layer uses (upper-casing, trimming, number text).
// Text is bytes in the system's 8-bit code page; nothing here assumes UTF-8.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace velmora {

// Base of every exception a request may raise; HandleRequest catches exactly this class.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

class EConvertError : public Exception { using Exception::Exception; };
class EInOutError : public Exception { using Exception::Exception; };
class EFOpenError : public EInOutError { using EInOutError::EInOutError; };
class EFCreateError : public EInOutError { using EInOutError::EInOutError; };
class EReadError : public EInOutError { using EInOutError::EInOutError; };
class EWriteError : public EInOutError { using EInOutError::EInOutError; };
class EListError : public Exception { using Exception::Exception; };

// Upper-casing by the rules of the Western 8-bit code page: ASCII letters, the accented letters
// 0xE0-0xFE except 0xF7, and the few letters whose capitals sit in 0x80-0x9F.
char UpCaseChar(char c) noexcept;
char LowCaseChar(char c) noexcept;
std::string UpperCase(std::string s);
std::string LowerCase(std::string s);

// Removes every leading and trailing byte of value 0x20 or below.
std::string Trim(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimRight(const std::string& s);

std::string IntToStr(long long value);
// Decimal text with optional sign and surrounding blanks; EConvertError when it is not one.
int StrToInt(const std::string& s);
int StrToIntDef(const std::string& s, int def) noexcept;
bool TryStrToInt(const std::string& s, int& out) noexcept;

// True when needle occurs in haystack.
inline bool Contains(const std::string& haystack, const std::string& needle) {
    return haystack.find(needle) != std::string::npos;
}

}  // namespace velmora
