// The serial port on Win32: a communications handle opened for overlapped
// operation, set up with a device-control record.
#include <windows.h>

#include <string>

#include "transport/serial_exception.h"
#include "transport/serial_port.h"

namespace markwire {
namespace {

// "COM12" and other bare names go through the device namespace, which
// CreateFile needs for COM10 and up; a name that already has a path prefix
// is used as given.
std::string DevicePath(const std::string& device) {
  if (device.rfind("\\\\", 0) == 0) return device;
  return "\\\\.\\" + device;
}

// Parity, stop-bit and flow-control selectors onto the record. A selector
// outside its row leaves that setting as the driver had it.
void ApplySelectors(DCB& dcb, int parity, int dataBits, int stopBits, int flowControl) {
  static constexpr BYTE kParity[] = {EVENPARITY, MARKPARITY, NOPARITY, ODDPARITY, SPACEPARITY};
  if (parity >= 0 && parity < 5) {
    dcb.Parity = kParity[parity];
    dcb.fParity = parity != 2;
  }
  static constexpr BYTE kStop[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};
  if (stopBits >= 0 && stopBits < 3) dcb.StopBits = kStop[stopBits];
  dcb.ByteSize = static_cast<BYTE>(dataBits);
  dcb.fDsrSensitivity = FALSE;
  switch (flowControl) {
    case 0:  // none; DTR and RTS line control stay as they were
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fOutX = dcb.fInX = FALSE;
      break;
    case 1:  // CTS/RTS
      dcb.fOutxCtsFlow = TRUE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      dcb.fOutX = dcb.fInX = FALSE;
      break;
    case 2:  // CTS/DTR
      dcb.fOutxCtsFlow = TRUE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
      dcb.fOutX = dcb.fInX = FALSE;
      break;
    case 3:  // DSR/RTS
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = TRUE;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      dcb.fOutX = dcb.fInX = FALSE;
      break;
    case 4:  // DSR/DTR
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = TRUE;
      dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
      dcb.fOutX = dcb.fInX = FALSE;
      break;
    case 5:  // XON/XOFF
      dcb.fOutxCtsFlow = FALSE;
      dcb.fOutxDsrFlow = FALSE;
      dcb.fOutX = dcb.fInX = TRUE;
      dcb.XonChar = 0x11;
      dcb.XoffChar = 0x13;
      dcb.XonLim = 100;
      dcb.XoffLim = 100;
      break;
    default:
      break;
  }
}

}  // namespace

CSerialPort::~CSerialPort() { Close(); }

bool CSerialPort::Open(const std::string& device, unsigned baud, int parity, int dataBits,
                       int stopBits, int flowControl) {
  Close();
  openError_ = 0;
  HANDLE h = ::CreateFileA(DevicePath(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    openError_ = static_cast<unsigned>(::GetLastError());
    return false;
  }
  handle_ = h;
  device_ = device;
  baud_ = baud;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(h, &dcb)) ThrowSerialException(0, "cannot read the line settings");
  dcb.BaudRate = baud;
  ApplySelectors(dcb, parity, dataBits, stopBits, flowControl);
  dcb.fBinary = TRUE;
  if (!::SetCommState(h, &dcb)) ThrowSerialException(0, "cannot set the line settings");
  return true;
}

void CSerialPort::Close() {
  if (handle_ == kInvalidHandle) return;
  ::CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = kInvalidHandle;
}

void CSerialPort::Purge(unsigned actions) {
  if (handle_ != kInvalidHandle) ::PurgeComm(static_cast<HANDLE>(handle_), actions);
}

unsigned CSerialPort::QueuedOutput() const {
  if (handle_ == kInvalidHandle) return 0;
  COMSTAT status{};
  DWORD errors = 0;
  if (!::ClearCommError(static_cast<HANDLE>(handle_), &errors, &status)) return 0;
  return static_cast<unsigned>(status.cbOutQue);
}

unsigned CSerialPort::QueuedInput() const {
  if (handle_ == kInvalidHandle) return 0;
  COMSTAT status{};
  DWORD errors = 0;
  if (!::ClearCommError(static_cast<HANDLE>(handle_), &errors, &status)) return 0;
  return static_cast<unsigned>(status.cbInQue);
}

}  // namespace markwire
