// A Windows application of Markwire.dll, run under Wine against the
// simulated reader: it loads the DLL, finds every export by name and by
// ordinal, and drives the reader through a COM port.
//
//   wine_client.exe COM5 COM6      (two simulated readers)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Check(bool ok, const char* what, const std::string& detail = {}) {
  std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what, detail.empty() ? "" : ": ",
              detail.c_str());
  if (!ok) ++failures;
}

struct Export {
  const char* name;
  int ordinal;
};

constexpr Export kExports[] = {
    {"OmrInit", 1},          {"OmrS", 2},
    {"OmrG", 3},             {"OmrClose", 4},
    {"OmrGetError", 5},      {"OmrGetErrorStr", 6},
    {"OmrSetTest", 7},       {"OmrGetValue", 8},
    {"OmrGetOriOrGray", 9},  {"OmrGetCurve", 10},
    {"ReadOneCard", 11},     {"DownLoadFormatFile", 12},
    {"PassOneCard", 13},     {"AdjustGrayInfo", 14},
    {"AdjustCardInfo", 15},  {"AdjustMota", 16},
    {"AdjustForeTime", 17},  {"AdjustBehindTime", 18},
    {"OmrGetSync", 19},      {"OmrInitDevice", 20},
    {"OmrSetMessageHandler", 21}, {"OmrSetTraceHandler", 22},
    {"OmrSetProgressHandler", 23}, {"OmrSetBarcodeMode", 24},
};

using IntFn = int(__stdcall*)(int);
using TextFn = int(__stdcall*)(const char*);
using BufferFn = int(__stdcall*)(char*);
using VoidFn = int(__stdcall*)();
using ReadFn = int(__stdcall*)(int, int, char*);
using ValuesFn = int(__stdcall*)(int, int*);
using MessageFn = void(__stdcall*)(void (*)(const char*, void*), void*);

std::vector<std::string> messages;

}  // namespace

int main(int argc, char** argv) {
  const std::string port = argc > 1 ? argv[1] : "COM5";
  const std::string second = argc > 2 ? argv[2] : "COM6";
  HMODULE dll = ::LoadLibraryA("Markwire.dll");
  Check(dll != nullptr, "LoadLibrary Markwire.dll");
  if (dll == nullptr) return 1;
  for (const auto& e : kExports) {
    const FARPROC byName = ::GetProcAddress(dll, e.name);
    const FARPROC byOrdinal = ::GetProcAddress(dll, MAKEINTRESOURCEA(e.ordinal));
    Check(byName != nullptr && byName == byOrdinal, e.name, "ordinal " + std::to_string(e.ordinal));
  }
  // Through void(*)(), the type every function pointer may pass through.
  const auto get = [&](const char* name) {
    return reinterpret_cast<void (*)()>(::GetProcAddress(dll, name));
  };
  {
    // A reader closed before the unload leaves nothing behind that holds the
    // DLL: FreeLibrary unloads it. A second simulated reader: Wine cannot set
    // the line of a pseudo-terminal it has opened and closed once already.
    using OpenFn = void*(__stdcall*)(const char*, char*, size_t);
    using CloseFn = void(__stdcall*)(void*);
    auto mw_open = reinterpret_cast<OpenFn>(get("mw_open"));
    auto mw_close = reinterpret_cast<CloseFn>(get("mw_close"));
    char why[256] = {};
    void* reader = mw_open(second.c_str(), why, sizeof why);
    Check(reader != nullptr, "mw_open", why);
    mw_close(reader);
    ::FreeLibrary(dll);
    Check(::GetModuleHandleA("Markwire.dll") == nullptr,
          "FreeLibrary after mw_close unloads the DLL");
    dll = ::LoadLibraryA("Markwire.dll");
    if (dll == nullptr) return 1;
  }
  auto OmrInit = reinterpret_cast<IntFn>(get("OmrInit"));
  auto OmrInitDevice = reinterpret_cast<TextFn>(get("OmrInitDevice"));
  auto OmrS = reinterpret_cast<TextFn>(get("OmrS"));
  auto OmrGetError = reinterpret_cast<BufferFn>(get("OmrGetError"));
  auto OmrGetSync = reinterpret_cast<VoidFn>(get("OmrGetSync"));
  auto ReadOneCard = reinterpret_cast<ReadFn>(get("ReadOneCard"));
  auto DownLoadFormatFile = reinterpret_cast<TextFn>(get("DownLoadFormatFile"));
  auto OmrGetValue = reinterpret_cast<ValuesFn>(get("OmrGetValue"));
  auto OmrSetMessageHandler = reinterpret_cast<MessageFn>(get("OmrSetMessageHandler"));
  // Messages come here instead of message boxes (there is no display).
  OmrSetMessageHandler([](const char* text, void*) { messages.emplace_back(text); }, nullptr);

  char buffer[4096] = {};
  Check(OmrS("R/") == -1, "OmrS before OmrInit is refused");
  Check(OmrInit(9) == 0, "OmrInit(9) on a port that does not exist fails");
  const int opened = OmrInitDevice(port.c_str());
  {
    using OpenErrorFn = int(__stdcall*)(char*, size_t);
    char why[256] = {};
    reinterpret_cast<OpenErrorFn>(get("OmrGetOpenError"))(why, sizeof why);
    Check(opened == 255, ("OmrInitDevice(\"" + port + "\")").c_str(),
          std::to_string(opened) + " " + why);
  }
  if (opened != 255) return 1;
  Check(OmrInit(9) == 255, "a second OmrInit returns at once");

  Check(OmrS("MO 1/") == 255, "a command with its echo, answer and final status");
  Check(OmrS("R") == 0, "a command without \"/\" is refused");
  OmrGetError(buffer);
  Check(std::strcmp(buffer, "06") == 0, "its error code", buffer);

  const int format = DownLoadFormatFile("L 040/ T/ f 3 010 020 01 08/\n;B   ");
  Check(format == 255, "DownLoadFormatFile with a Code 39 barcode line", std::to_string(format));
  Check(OmrGetSync() == 40, "OmrGetSync", std::to_string(OmrGetSync()));
  for (int card = 0; card < 2; ++card) {
    std::memset(buffer, 0, sizeof buffer);
    const int n = ReadOneCard(0, 2000, buffer);
    const std::string text = buffer;
    // The card begins with its candidate number, which is also its barcode,
    // placed after the first data byte: "X" + barcode + the data's rest.
    const bool laidOut = n > 9 && text.substr(1, 8) == text.substr(0, 1) + text.substr(9, 7);
    Check(laidOut, "ReadOneCard with its barcode", text);
  }

  Check(OmrS("I 4/") == 255, "the value block");
  int values[100] = {};
  Check(OmrGetValue('A', values) == 96, "OmrGetValue");

  {
    std::ofstream program("prog.hex", std::ios::binary);
    for (int i = 0; i < 600; ++i) program.put(":0123456789ABCDEF\r\n/"[i % 20]);
  }
  Check(OmrS("W prog.hex/") == 255, "the program download");
  Check(messages.empty(), "no message was shown", messages.empty() ? "" : messages.front());

  // Unloading with the session open must not hang, whatever the line-event
  // thread is waiting for. FreeLibrary runs on a thread of its own so that a
  // hang shows as a failure instead of a test that never ends.
  HANDLE unload = ::CreateThread(
      nullptr, 0,
      [](void* module) -> DWORD { return ::FreeLibrary(static_cast<HMODULE>(module)) ? 0 : 1; },
      dll, 0, nullptr);
  const DWORD started = ::GetTickCount();
  const bool returned = ::WaitForSingleObject(unload, 5000) == WAIT_OBJECT_0;
  const DWORD took = ::GetTickCount() - started;
  Check(returned && took < 1000, "FreeLibrary with the session open returns within a second",
        returned ? std::to_string(took) + " ms" : "still waiting after 5 s");
  std::printf("%s\n", failures == 0 ? "all passed" : "FAILED");
  std::fflush(stdout);
  // A FreeLibrary still waiting would keep an orderly exit waiting too.
  if (!returned) ::TerminateProcess(::GetCurrentProcess(), 1);
  return failures == 0 ? 0 : 1;
}
