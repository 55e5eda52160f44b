// Collects the texts of failed assertions while installed.
//
// Threading: install on the test's thread, one at a time; reports may arrive
// from any thread.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "core/common/assertion.h"
#include "core/common/trace.h"

namespace IpcTesting {

class AssertionCapture
{
public:
    AssertionCapture()
    {
        std::lock_guard<std::mutex> lock(Lock());
        Texts().clear();
        Common::SetAssertionEventHook(&OnEvent);
    }
    ~AssertionCapture() { Common::SetAssertionEventHook(&Common::TraceAssertionEvent); }
    AssertionCapture(const AssertionCapture&) = delete;
    AssertionCapture& operator=(const AssertionCapture&) = delete;

    // The reports that start with "Assertion failed: ".
    std::vector<std::string> Reports() const
    {
        std::lock_guard<std::mutex> lock(Lock());
        std::vector<std::string> reports;
        for (const std::string& text : Texts())
            if (text.rfind("Assertion failed: ", 0) == 0)
                reports.push_back(text);
        return reports;
    }

private:
    static std::mutex& Lock()
    {
        static std::mutex lock;
        return lock;
    }
    static std::vector<std::string>& Texts()
    {
        static std::vector<std::string> texts;
        return texts;
    }
    static void OnEvent(int, unsigned, unsigned, const char* text)
    {
        std::lock_guard<std::mutex> lock(Lock());
        Texts().push_back(text ? text : "");
    }
};

} // namespace IpcTesting
