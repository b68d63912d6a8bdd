/* tavik3.h - host interface of libtavik3, the live watermark decoder.
 *
 * libtavik3 listens to up to six live audio channels (three stereo sound-card
 * inputs captured at 48000 Hz, 16 bits) and searches every channel for three
 * families of inaudible tone watermarks: TESK 6, TESK 2 and ZELT. A host
 * program drives it through the five functions declared here and nothing else:
 *
 *   startDecoding     runs the decoder on a thread the host gives it
 *   setConfiguration  chooses channels, sound devices, code families, display
 *   getAudioCodes     takes the oldest unread detection text of a channel
 *   getAudioLevels    takes the latest average and peak level of a channel
 *   getDiagMessage    takes the oldest unread diagnostic message
 *
 * The functions have C++ linkage (their symbols carry the parameter types), so
 * a host is compiled as C++; the header declares them exactly as the library
 * exports them. Link with -ltavik3 (pkg-config: tavik3; CMake:
 * find_package(tavik3) and the target tavik3::tavik3), or load the library at
 * run time and look the functions up by their symbol names:
 *
 *   int startDecoding(int, char**)                          _Z13startDecodingiPPc
 *   int setConfiguration(char*)                             _Z16setConfigurationPc
 *   int getAudioCodes(unsigned int, char*, unsigned int)    _Z13getAudioCodesjPcj
 *   int getAudioLevels(unsigned int, int*, int*)            _Z14getAudioLevelsjPiS_
 *   int getDiagMessage(char*, unsigned int)                 _Z14getDiagMessagePcj
 *
 * Life of a host:
 *   1. start a thread that calls startDecoding(); the call does not come back
 *      while the decoder runs;
 *   2. poll getDiagMessage() until a message containing "Begin DecodeAudio"
 *      arrives (the decoder then waits for its configuration), and send the
 *      configuration with setConfiguration();
 *   3. from then on poll getAudioCodes() for every configured channel,
 *      getAudioLevels() if levels are wanted, and getDiagMessage(), a few times
 *      a second or more often (each queue holds 49 unread entries);
 *   4. send setConfiguration() again whenever families, display or devices
 *      change; the decoder reopens its sound streams when a device or the
 *      channel count changes.
 * There is no stop function: a host ends decoding by ending its process.
 *
 * Threads. The queues, settings and switches behind these functions belong to
 * the process and exist before startDecoding() is called; an empty queue
 * answers 0 at any time. The host may call setConfiguration() and the three get
 * functions from its own threads while the decoder runs, with these rules:
 *   - getAudioCodes() for one channel from one thread at a time (different
 *     channels may be polled from different threads);
 *   - getDiagMessage() from one thread at a time;
 *   - setConfiguration() from one thread at a time;
 *   - getAudioLevels() from any thread.
 * These four return at once: none of them waits for the decoder's work.
 *
 * Output of the library itself: besides the queues, the decoder writes a few
 * lines to standard output ("CTavikReport is created.", "\nWait for
 * configuration", decoder log lines) and exception texts to standard error;
 * hosts that use standard output for their own data redirect it.
 */
#ifndef TAVIK3_H
#define TAVIK3_H

#ifndef __cplusplus
#error "tavik3.h declares C++ functions: compile the host as C++"
#endif

/** Version of the library this header belongs to (the shared library's
 *  SONAME carries the major number: libtavik3.so.3). */
#define TAVIK3_VERSION_MAJOR 3
#define TAVIK3_VERSION_MINOR 0
#define TAVIK3_VERSION_PATCH 0

#if defined(__GNUC__) || defined(__clang__)
#define TAVIK3_API __attribute__((visibility("default")))
#else
#define TAVIK3_API
#endif

/** \brief Runs the decoder on the calling thread.
 *
 *  Clears the configured state left by an earlier setConfiguration() (the
 *  settings themselves are kept), prints "CTavikReport is created." on standard
 *  output, builds the decoders for six channels of 48000 Hz, 16-bit audio,
 *  posts "Begin DecodeAudio" and its build version to the diagnostic queue and
 *  waits until the host sends a configuration with setConfiguration(). It then
 *  opens the sound streams (PortAudio) of the configured devices, posts
 *  "Start detecting audio codes." and decodes the captured audio for as long as
 *  the process lives, feeding the detection and level queues. A configuration
 *  sent before the call began is therefore not enough: wait for "Begin
 *  DecodeAudio", then configure.
 *
 *  Sound devices that fail or deliver nothing do not end the call: they are
 *  reported as diagnostics ("Not able to open sound card.", "No audio devices
 *  found.", and every 5 s without audio "\nCritical error, timout waiting for
 *  audio receive semaphore.Close and re - open audio system.") and decoding goes
 *  on. Call it once per process, from a thread of the host's own.
 *
 *  \param argc  number of entries in argv (passed on; the run is configured at
 *               build time and by setConfiguration(), not by arguments)
 *  \param argv  argument vector, may be {name, NULL}
 *  \return      only after an exception ended the decoder: 1. The exception's
 *               text is on standard error, "Invalid argument: <text>" for an
 *               invalid setting, else "AudioSDK exception caught" and the text.
 *               If the system cannot create the decoder's semaphore or read the
 *               real-time clock, the process ends with exit status 1 instead.
 */
TAVIK3_API int startDecoding(int argc, char** argv);

/** \brief Applies a host configuration.
 *
 *  The configuration text holds five integers, each followed by exactly one
 *  separator character of any kind (the last needs none), for example
 *  "2,2,-1,-99,-99". Each integer is read as strtol() reads a decimal number
 *  (leading white space and a sign allowed); integers after the fifth are
 *  ignored. In order:
 *
 *   1. mode word: bits 0-1 choose the code families reported,
 *        0 = TESK 2 and TESK 6, 1 = ZELT, 2 or 3 = all three;
 *      bit 2 set = raw display (every detection text of the decoders, as it
 *      comes), clear = filtered display (confirmed, corrected, de-duplicated
 *      codes: what monitoring hosts want); other bits are ignored;
 *   2. channel count, 0 to 6: channels decoded, from channel 0 up; channels
 *      0-1 come from the L/R device, 2-3 from C/LFE, 4-5 from Ls/Rs, and
 *      count / 2 stereo streams are opened (use an even count);
 *   3. L/R device, 4. C/LFE device, 5. Ls/Rs device: the PortAudio device
 *      number of each stereo input (0 to 32767; tavikhost --list-devices shows
 *      them), -1 = the default input device, -99 = stream not used.
 *
 *  Diagnostics posted, in this order: "\nRequest to update to <text>
 *  configuration"; one "\nUpdating L and R sound card settings to <n> device"
 *  (likewise "C and LFE", "Ls Rs") per device that changed; "\nDecoding for
 *  TESK2 and TESK6 codes\n", "\nDecoding for ZELT codes\n" or "\nDecoding TESK2,
 *  TESK6 and ZELT codes\n"; "Filtered code display selected" or "Raw code display
 *  selected". A change of a device or of the channel count after the first
 *  configuration makes the running decoder stop, reopen and restart its
 *  streams. The families and the display take effect with the next detection.
 *
 *  A text that is null, holds fewer than five integers, a channel count outside
 *  0..6 or a device number other than -99, -1 or 0..32767 changes nothing: the
 *  request message is followed by one "\nConfiguration rejected: <reason>".
 *
 *  May be called at any time, also before startDecoding() (see there).
 *  The text is not modified nor kept.
 *
 *  \param text  NUL-terminated configuration text
 *  \return      the configured state: 1 when this text or an earlier one was
 *               accepted (since startDecoding() began, once it has been
 *               called), else 0; a rejected text therefore returns 1 after an
 *               earlier accepted one (the diagnostics tell which happened)
 */
TAVIK3_API int setConfiguration(char* text);

/** \brief Takes the oldest unread detection text of a channel.
 *
 *  Every code the decoder reports is one compact JSON object with a single key
 *  naming its family, at most a few hundred bytes long (1024 bytes hold any):
 *
 *   {"TESK6":{"elapsedTime":s,"layer":"PROG"|"COMM_STD"|"COMM_RS",
 *             "sid":n | "commId":"0x...","firstSymAge":ms,"lastSymAge":ms,
 *             "quality":n,"strength":n,"depth":0-3,"phase":n,"timestamp":n,
 *             "dst":0|1,"systemTime":t,"dist":"PC"|"FD1"|"FD2"|"FD3"|"Undefined",
 *             "transmission":0|1,"sampleBlockIndex":n,"redundantCommStd":0|1}}
 *   {"TESK2":{ the same fields without "transmission"; "dist" is "PC", "FD",
 *             "COMM_STD" or "UN"; "timestamp" is the 31-bit TESK 2 time code }}
 *   {"ZELT":{"elapsedTime":s,"layer":1|2|5|4,"firstSymAge":ms,"lastSymAge":ms,
 *            "quality":n,"strength":n,"depth":n,"phase":n,"id":"0x%04x"|"N/A",
 *            "timestamp":minute,"systemTime":t,"commId":"0x..."|"N/A",
 *            "sampleBlockIndex":n}}
 *
 *  "sid" is the source identifier (TESK program and standard commercial
 *  layers), "commId" the commercial identifier as hexadecimal text (TESK
 *  "COMM_RS", ZELT layer 4), ZELT "id" the program identifier (layers 1, 2, 5).
 *  "systemTime" is the code's time in POSIX seconds (not meaningful for TESK
 *  "COMM_RS", whose "timestamp" is -1, nor for ZELT layer 4, where it is 0);
 *  "elapsedTime" is seconds of this channel's audio decoded up to the message;
 *  ages are milliseconds before the end of the audio analysed. The library's
 *  README describes every field.
 *
 *  Each channel's queue holds 49 unread texts; when it is full a new code is
 *  dropped (the unread ones are kept) and "Overwrite in setAudioCodes" is
 *  posted to the diagnostic queue, so poll often enough.
 *
 *  \param channel  audio channel, 0 to 5
 *  \param buffer   receives the text: at most length - 1 bytes, then a NUL (a
 *                  longer text is cut and its rest is lost)
 *  \param length   size of buffer in bytes
 *  \return         1 when a text was taken; 0 when none was waiting, channel
 *                  is 6 or above, buffer is null or length is 0 (then nothing
 *                  is taken and buffer is left untouched)
 */
TAVIK3_API int getAudioCodes(unsigned int channel, char* buffer, unsigned int length);

/** \brief Takes the latest average and peak level of a channel.
 *
 *  The decoder measures every decoded channel and renews its levels every 4801
 *  samples (about ten times a second at 48000 Hz); a pair not taken before the
 *  next one is replaced by it. Both values are at most 0:
 *    peak     20 * log10(peak magnitude / 32767), truncated: dB relative to
 *             full scale, -90 for digital silence;
 *    average  20 * ln(smoothed mean magnitude / 32767), truncated (natural log,
 *             so about 2.3 times a dB figure), about -207 for silence.
 *  Both values of a pair always come from the same measurement.
 *
 *  \param channel  audio channel, 0 to 5
 *  \param average  receives the average level
 *  \param peak     receives the peak level
 *  \return         1 when a new pair arrived since the last call and was
 *                  stored; 0 (nothing stored) otherwise, for a channel of 6
 *                  or above, or when a pointer is null
 */
TAVIK3_API int getAudioLevels(unsigned int channel, int* average, int* peak);

/** \brief Takes the oldest unread diagnostic message.
 *
 *  Diagnostics are progress and error texts of the decoder, of the sound
 *  streams and of setConfiguration(), at most 239 characters each; many begin
 *  or end with line breaks. Among them: "Begin DecodeAudio" (the decoder waits
 *  for its configuration), the configuration messages listed at
 *  setConfiguration(), "Attempting to open sound card.", "Sound card
 *  successfully opened.", "Selected input is <n> (<device>, <api>, <kind>)\n",
 *  "\nStart detecting audio codes.", sound errors ("Not able to open sound
 *  card.", "No audio devices found.", "ERROR: No input device found.", "in
 *  openSoundCard not able to start stream <n>", "Capture overrun: stream <n>
 *  dropped <k> blocks", "Stream <n> stopped", "Stream <n> restarted"), the
 *  5-second no-audio message quoted at startDecoding(), and "Overwrite in
 *  setAudioCodes" when a detection queue was full. The queue holds 49 unread
 *  messages; while it is full new messages are dropped.
 *
 *  \param buffer  receives the message: at most length - 1 bytes, then a NUL;
 *                 pass at least 240 bytes to receive every message whole
 *  \param length  size of buffer in bytes
 *  \return        1 when a message was taken; 0 when none was waiting, buffer
 *                 is null or length is 0 (then nothing is taken and buffer is
 *                 left untouched)
 */
TAVIK3_API int getDiagMessage(char* buffer, unsigned int length);

#endif /* TAVIK3_H */
