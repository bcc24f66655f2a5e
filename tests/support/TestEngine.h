// TTestEngine: an engine for tests that captures what a request writes, per thread, and takes its
// variables, form data and request body from settable members instead of a real server.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "FormData.h"
#include "HttpEng.h"

namespace velmora::test {

class TTestEngine : public THttpEngine {
public:
    explicit TTestEngine(TComponent* owner = nullptr) : THttpEngine(owner) {}

    // Settings; change them only while no request runs.
    // Server variables by their CGI names ("SERVER_SOFTWARE"); friendly names ("SERVER SOFTWARE")
    // are looked up upper-cased with blanks made "_", as the standard CGI engine does.
    std::map<std::string, std::string> Variables;
    // The URL-encoded form data every request starts with.
    std::string FormData;
    // When set, each request replaces its form data by ReadMultipartData's result (read from Body).
    bool DecodeMultipart = false;
    // The request body that ReadClient hands out, read from its start by every request.
    std::string Body;
    bool Active = true;

    // What the calling thread's requests have sent to the "server" so far.
    std::string Output() { return Mine().Output; }
    // The calling thread's form data of the running (or last) request.
    std::string RequestFormData() { return Mine().FormData; }
    // Forgets the calling thread's output and starts its body reading over.
    void ResetCapture() { Mine() = TCapture{}; }

    void ExecRequest() override {
        TCapture& c = Mine();
        c.ReadPos = 0;
        c.FormData = FormData;
        if (DecodeMultipart) ReadMultipartData(c.FormData);
        RaiseRequestEvents(true);
    }

    bool IsActive() override { return Active; }

    std::string GetVariable(const std::string& name) override {
        std::string key = UpperCase(name);
        for (char& ch : key)
            if (ch == ' ') ch = '_';
        auto it = Variables.find(key);
        return it == Variables.end() ? std::string() : it->second;
    }

    // Form lookups as every engine answers them, from this thread's form data.
    std::string GetFormField(const std::string& name, const std::string& def) override {
        return FindFormValue(name, Mine().FormData, def);
    }

    std::unique_ptr<TStringList> GetFormFieldNames() override {
        return ParseFormFieldNames(Mine().FormData);
    }

    // The engine's part of writing: the base decides headers and buffering, then direct output
    // is sent, as every real engine does.
    void Write(const std::string& s) override {
        THttpEngine::Write(s);
        if (IsDirectOutput() && !s.empty()) Mine().Output += s;
    }

    void WriteBuffer(const void* buffer, int count) override {
        THttpEngine::WriteBuffer(buffer, count);
        if (IsDirectOutput() && count > 0)
            Mine().Output.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    }

    int ReadClient(void* buffer, int count) override {
        TCapture& c = Mine();
        size_t n = std::min(static_cast<size_t>(count > 0 ? count : 0), Body.size() - c.ReadPos);
        Body.copy(static_cast<char*>(buffer), n, c.ReadPos);
        c.ReadPos += n;
        return static_cast<int>(n);
    }

private:
    struct TCapture {
        std::string Output;
        std::string FormData;
        size_t ReadPos = 0;
    };

    TCapture& Mine() {
        std::lock_guard<std::mutex> guard(FLock);
        return FCaptures[std::this_thread::get_id()];  // map nodes stay put while others are added
    }

    std::mutex FLock;
    std::map<std::thread::id, TCapture> FCaptures;
};

}  // namespace velmora::test
