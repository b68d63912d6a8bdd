// The five functions a host program calls, as exported by libtavik3.so. They are
// the only symbols with default visibility in the library (see app/tavik3.map);
// each forwards to its implementation in app/HostInterface.cpp. The public
// header comes first, so the library is built against the very declarations
// hosts compile with.
#include "tavik3.h"

#include "app/HostInterface.h"

int startDecoding(int argc, char** argv) { return hostStartDecoding(argc, argv); }

int setConfiguration(char* text) { return hostSetConfiguration(text); }

int getAudioCodes(unsigned int channel, char* buffer, unsigned int length) {
    return hostGetAudioCodes(channel, buffer, length);
}

int getAudioLevels(unsigned int channel, int* average, int* peak) {
    return hostGetAudioLevels(channel, average, peak);
}

int getDiagMessage(char* buffer, unsigned int length) { return hostGetDiagMessage(buffer, length); }
