#!/usr/bin/env bash
# markwire ports against a made-up sysfs and /dev: a USB adapter with its
# ids, names and serial number, a CDC device named by an absolute link,
# legacy ttyS ports with and without a UART, and terminals with no device.
set -uo pipefail
mw=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

root=$work/root
sys=$root/sys
dev=$root/dev
mkdir -p "$sys/class/tty" "$sys/bus/usb-serial/drivers/ftdi_sio" "$sys/bus/usb/drivers/cdc_acm" \
  "$sys/bus/platform/drivers/serial8250" "$dev/serial/by-id" "$dev/serial/by-path"
attr() { printf '%s\n' "$2" >"$1"; }
# class/tty/NAME -> the tty's own folder; its "device" -> the device above.
tty() {  # tty NAME FOLDER-UNDER-sys/devices DEVICE-LINK
  mkdir -p "$sys/devices/$2"
  ln -s "../../devices/$2" "$sys/class/tty/$1"
  [ -n "$3" ] && ln -s "$3" "$sys/devices/$2/device"
}

# The hub carries ids of its own: the walk must stop at the adapter.
hub=pci0000:00/0000:00:14.0/usb1
mkdir -p "$sys/devices/$hub"
attr "$sys/devices/$hub/idVendor" 1d6b
attr "$sys/devices/$hub/idProduct" 0002
# An FTDI adapter: device 1-2, interface 1-2:1.0, usb-serial port ttyUSB0.
usb=$hub/1-2
mkdir -p "$sys/devices/$usb/1-2:1.0/ttyUSB0"
attr "$sys/devices/$usb/idVendor" 0403
attr "$sys/devices/$usb/idProduct" 6001
attr "$sys/devices/$usb/manufacturer" FTDI
attr "$sys/devices/$usb/product" "FT232R USB UART"
attr "$sys/devices/$usb/serial" A50285BI
ln -s ../../../../../../../bus/usb-serial/drivers/ftdi_sio "$sys/devices/$usb/1-2:1.0/ttyUSB0/driver"
tty ttyUSB0 "$usb/1-2:1.0/ttyUSB0/tty/ttyUSB0" ../../../ttyUSB0
ln -s ../../ttyUSB0 "$dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
ln -s ../../ttyUSB0 "$dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0"
# A CDC device without manufacturer or serial; its tty's device is the interface.
acm=$hub/1-3
mkdir -p "$sys/devices/$acm/1-3:1.0"
attr "$sys/devices/$acm/idVendor" 2341
attr "$sys/devices/$acm/idProduct" 0043
attr "$sys/devices/$acm/product" Uno
ln -s ../../../../../../bus/usb/drivers/cdc_acm "$sys/devices/$acm/1-3:1.0/driver"
tty ttyACM0 "$acm/1-3:1.0/tty/ttyACM0" ../../../1-3:1.0
ln -s /dev/ttyACM0 "$dev/serial/by-id/usb-Arduino_Uno-if00"
# Legacy ports: ttyS0 with no UART (type 0), ttyS2 and ttyS10 with one.
mkdir -p "$sys/devices/platform/serial8250"
ln -s ../../../bus/platform/drivers/serial8250 "$sys/devices/platform/serial8250/driver"
for n in 0 2 10; do
  tty "ttyS$n" "platform/serial8250/tty/ttyS$n" ../../../serial8250
  attr "$sys/devices/platform/serial8250/tty/ttyS$n/type" $([ $n -eq 0 ] && echo 0 || echo 4)
done
# A virtual terminal: no device behind it.
tty tty0 virtual/tty/tty0 ""

"$mw" ports --root "$root" >"$work/out" 2>"$work/err" || fail "ports exited $?: $(cat "$work/err")"
[ ! -s "$work/err" ] || fail "ports complained: $(cat "$work/err")"
# In natural order, ttyS0 (no UART) and tty0 left out.
[ "$(awk '{print $1}' "$work/out" | tr '\n' ' ')" = \
  "$dev/ttyACM0 $dev/ttyS2 $dev/ttyS10 $dev/ttyUSB0 " ] || fail "ports listed: $(cat "$work/out")"
grep -qE "^$dev/ttyUSB0 +ftdi_sio +0403:6001 +A50285BI +FTDI FT232R USB UART +$dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0 $dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0$" \
  "$work/out" || fail "the FTDI adapter: $(grep ttyUSB0 "$work/out")"
grep -qE "^$dev/ttyACM0 +cdc_acm +2341:0043 +- +Uno +$dev/serial/by-id/usb-Arduino_Uno-if00$" "$work/out" ||
  fail "the CDC device: $(grep ttyACM0 "$work/out")"
grep -qE "^$dev/ttyS10 +serial8250 +- +- +-$" "$work/out" || fail "ttyS10: $(grep ttyS10 "$work/out")"
# Aligned: every line's second column starts at the same place.
[ "$(awk '{ match($0, /^[^ ]+ +/); print RLENGTH }' "$work/out" | sort -u | wc -l)" -eq 1 ] ||
  fail "columns not aligned: $(cat "$work/out")"

"$mw" ports --all --root "$root" >"$work/out" || fail "ports --all exited $?"
grep -qE "^$dev/ttyS0 +serial8250 +- +- +no UART detected$" "$work/out" ||
  fail "ports --all: $(cat "$work/out")"
[ "$(head -2 "$work/out" | tail -1 | awk '{print $1}')" = "$dev/ttyS0" ] || fail "ttyS0 out of order"

"$mw" ports --json --root "$root" >"$work/out" || fail "ports --json exited $?"
[ "$(wc -l <"$work/out")" -eq 4 ] || fail "ports --json printed: $(cat "$work/out")"
[ "$(grep ttyUSB0 "$work/out")" = "{\"by_id\":[\"$dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0\"],\"by_path\":[\"$dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\"],\"device\":\"$dev/ttyUSB0\",\"driver\":\"ftdi_sio\",\"name\":\"ttyUSB0\",\"uart\":true,\"usb\":{\"manufacturer\":\"FTDI\",\"product\":\"FT232R USB UART\",\"product_id\":\"6001\",\"serial\":\"A50285BI\",\"vendor_id\":\"0403\"}}" ] ||
  fail "ports --json ttyUSB0: $(grep ttyUSB0 "$work/out")"
[ "$(grep ttyS2 "$work/out")" = "{\"by_id\":[],\"by_path\":[],\"device\":\"$dev/ttyS2\",\"driver\":\"serial8250\",\"name\":\"ttyS2\",\"uart\":true}" ] ||
  fail "ports --json ttyS2: $(grep ttyS2 "$work/out")"
"$mw" ports --json --all --root "$root" | grep -q '"name":"ttyS0","uart":false' || fail "ports --json --all"

# Nothing there: exit 0, nothing on standard output, a word on standard error.
mkdir -p "$work/empty"
"$mw" ports --root "$work/empty" >"$work/out" 2>"$work/err" || fail "ports on nothing exited $?"
[ ! -s "$work/out" ] && [ "$(cat "$work/err")" = "markwire: no serial devices found" ] ||
  fail "ports on nothing: $(cat "$work/out" "$work/err")"
"$mw" ports --json --root "$work/empty" >"$work/out" 2>"$work/err" && [ ! -s "$work/out" ] ||
  fail "ports --json on nothing: $(cat "$work/out")"
# The machine's own devices, whatever they are: it must not fail.
"$mw" ports >/dev/null 2>&1 || fail "ports on this machine exited $?"
"$mw" ports --help | grep -q -- "--root" && fail "--root is for tests: hidden"
echo "ok"
