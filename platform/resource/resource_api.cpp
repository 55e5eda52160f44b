// Stand-in resource library: files by language from a directory tree, and
// language-change events fired from the environment or a test hook.

#include "platform/resource/resource_api.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace ResourceApi {

struct ModuleHandle
{
    std::u16string name;
};

namespace {

struct State
{
    std::mutex lock;
    std::vector<LanguageHandler> handlers;
    bool languageKnown = false;
    bool environmentRead = false;
    std::string language;
    unsigned subscribeCalls = 0;
};

State& GetState()
{
    static State* state = new State; // never destroyed: handlers may run at exit
    return *state;
}

// "de_DE.UTF-8" -> "de", "pt_BR" -> "pt_BR", "C"/"POSIX"/"" -> "".
std::string LanguageFromLocale(std::string locale)
{
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale == "C" || locale == "POSIX")
        return {};
    if (locale == "pt_BR" || locale == "zh_TW")
        return locale;
    return locale.substr(0, locale.find('_'));
}

// Reads the environment once; true when it names a language.
void ReadEnvironment(State& state)
{
    if (state.environmentRead)
        return;
    state.environmentRead = true;
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value && *value) {
            std::string language = LanguageFromLocale(value);
            if (!language.empty()) {
                state.language = language;
                state.languageKnown = true;
            }
            return;
        }
    }
}

} // namespace

namespace {
ModuleHandle g_defaultModule; // the running program's, handed out for a null name
}

ModuleHandle* OpenModule(const char16_t* moduleName)
{
    if (!moduleName)
        return &g_defaultModule;
    return new ModuleHandle{moduleName};
}

void CloseModule(ModuleHandle* module)
{
    if (module != &g_defaultModule)
        delete module;
}

unsigned char* LoadFile(ModuleHandle*, const char* fileName, const char* reserved, unsigned* size)
{
    if (size)
        *size = 0;
    if (!fileName || reserved || std::strchr(fileName, '/'))
        return nullptr;
    const char* root = std::getenv("RESOURCEAPI_ROOT");
    if (!root || !*root)
        return nullptr;
    std::string language;
    {
        State& state = GetState();
        std::lock_guard<std::mutex> guard(state.lock);
        ReadEnvironment(state);
        language = state.language;
    }
    std::string path = std::string(root) + "/" + (language.empty() ? "" : language + "/") + fileName;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file)
        return nullptr;
    std::vector<unsigned char> bytes;
    unsigned char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + got);
        if (bytes.size() > (1u << 30))
            return nullptr;
    }
    if (bytes.empty())
        return nullptr;
    auto* block = new unsigned char[bytes.size()];
    std::memcpy(block, bytes.data(), bytes.size());
    if (size)
        *size = static_cast<unsigned>(bytes.size());
    return block;
}

void SubscribeLanguageEvents(LanguageHandler handler)
{
    State& state = GetState();
    bool callNow = false;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        ++state.subscribeCalls;
        ReadEnvironment(state);
        if (std::find(state.handlers.begin(), state.handlers.end(), handler) == state.handlers.end()) {
            state.handlers.push_back(handler);
            callNow = state.languageKnown;
        }
    }
    if (callNow && handler)
        handler();
}

void UnsubscribeLanguageEvents(LanguageHandler handler)
{
    State& state = GetState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.handlers.erase(std::remove(state.handlers.begin(), state.handlers.end(), handler), state.handlers.end());
}

void SetLanguageForTesting(const std::string& language)
{
    State& state = GetState();
    std::vector<LanguageHandler> handlers;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.environmentRead = true;
        state.language = language;
        state.languageKnown = true;
        handlers = state.handlers;
    }
    for (LanguageHandler handler : handlers)
        if (handler)
            handler();
}

unsigned SubscribeCallsForTesting()
{
    State& state = GetState();
    std::lock_guard<std::mutex> guard(state.lock);
    return state.subscribeCalls;
}

} // namespace ResourceApi
