// Checks the shared library a host loads: its dynamic symbol table defines the
// five host functions and nothing else, with exactly the parameter types hosts
// link against, and they work when the library is loaded at run time.
#include <cxxabi.h>
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace {

// The build passes the library's path in; the test environment's
// TAVIK_BINARY_DIR takes precedence when it is set.
std::string libraryPath() {
    const char* dir = std::getenv("TAVIK_BINARY_DIR");
    return dir ? std::string(dir) + "/app/libtavik3.so" : std::string(TAVIK_LIBRARY_FILE);
}

std::string demangle(const std::string& name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(
        abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status), std::free);
    return status == 0 ? std::string(text.get()) : name;
}

// Names (mangled) of the defined dynamic symbols of `path`.
std::set<std::string> exportedSymbols(const std::string& path) {
    std::set<std::string> names;
    const std::string command = "nm -D --defined-only '" + path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) names.insert(name);
    }
    pclose(pipe);
    return names;
}

// As listed in app/tavik3.map.
const std::set<std::string> kHostFunctions = {
    "startDecoding(int, char**)",
    "setConfiguration(char*)",
    "getAudioCodes(unsigned int, char*, unsigned int)",
    "getAudioLevels(unsigned int, int*, int*)",
    "getDiagMessage(char*, unsigned int)",
};

TEST(Exports, OnlyTheFiveHostFunctions) {
    const std::string path = libraryPath();
    ASSERT_TRUE(std::ifstream(path).good()) << path << " not built";
    std::set<std::string> exported;
    for (const std::string& name : exportedSymbols(path)) exported.insert(demangle(name));
    EXPECT_EQ(exported, kHostFunctions);
}

// The function of type F that `mangled` names in `library`, or null.
template <typename F>
F* lookUp(void* library, const char* mangled) {
    return reinterpret_cast<F*>(dlsym(library, mangled));
}

TEST(Exports, LoadedLibraryAnswersTheHost) {
    void* library = dlopen(libraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto setConfiguration = lookUp<int(char*)>(library, "_Z16setConfigurationPc");
    auto getDiagMessage = lookUp<int(char*, unsigned)>(library, "_Z14getDiagMessagePcj");
    auto getAudioCodes = lookUp<int(unsigned, char*, unsigned)>(library, "_Z13getAudioCodesjPcj");
    auto getAudioLevels = lookUp<int(unsigned, int*, int*)>(library, "_Z14getAudioLevelsjPiS_");
    // startDecoding runs the driver and waits for a configuration; only look it up.
    ASSERT_TRUE(setConfiguration && getDiagMessage && getAudioCodes && getAudioLevels &&
                lookUp<int(int, char**)>(library, "_Z13startDecodingiPPc"));

    char buffer[240];
    int average = 0;
    int peak = 0;
    EXPECT_EQ(getDiagMessage(buffer, sizeof buffer), 0);
    EXPECT_EQ(getAudioCodes(0, buffer, sizeof buffer), 0);
    EXPECT_EQ(getAudioLevels(0, &average, &peak), 0);
    char text[] = "2,6,-1,-99,-99";
    EXPECT_EQ(setConfiguration(text), 1);
    ASSERT_EQ(getDiagMessage(buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "\nRequest to update to 2,6,-1,-99,-99 configuration");
    dlclose(library);
}

}  // namespace
