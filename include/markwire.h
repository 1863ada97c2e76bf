/*
 * markwire.h - C interface of the Markwire optical mark reader driver.
 *
 * The 19 classic functions keep their names, argument orders and result codes
 * so that existing applications run unchanged. A few extensions follow them.
 *
 * Result codes: 255 done; 0 refused or failed (the reason is the two-digit
 * error code, see OmrGetError); -1 the session is not open or the port was
 * lost; any other positive value: the reader accepted a command (its echo was
 * right) but has not answered yet.
 *
 * The classic functions drive one reader, the process's default session.
 * Make one call at a time on it: calls block for as long as the reader
 * protocol requires (up to 1 s per awaited reply, 3 s for a final status,
 * 2.5 s after a hand-shake) and take no lock. For several readers in one
 * process, open a reader handle for each (mw_open, at the end of this file).
 *
 * Buffers the library writes into:
 *   OmrGetError     3 bytes (two digits and a NUL)
 *   OmrGetErrorStr  49 bytes at most (the longest status text and a NUL)
 *   OmrG, ReadOneCard
 *                   one data block as text: at most 2049 characters and a
 *                   NUL (2050 bytes). A read command's limit
 *                   ("r A 0001 0200/") bounds the data further to limit + 1
 *                   characters, until an area test ("I 1", "I 2") sets its
 *                   point count as the limit instead.
 *                   When the card format reads a barcode, its text (the
 *                   format's length, 123 at most) goes in front of the data,
 *                   or after the data's first byte: 2050 + length bytes. (A
 *                   format whose commands are only "L" and "T" keeps the
 *                   barcode line of the format before it.)
 *                   Pass an empty text (first byte NUL): in front, the
 *                   barcode and the data are appended to the text the buffer
 *                   holds, cut at the barcode length, so a buffer that holds
 *                   text needs 2050 + 2 x length bytes.
 */
#ifndef MARKWIRE_H
#define MARKWIRE_H

#if defined(_WIN32)
#define MARKWIRE_CALL __stdcall
#if defined(MARKWIRE_BUILDING_LIBRARY)
/* The DLL exports from its module-definition file, by name and ordinal. */
#define MARKWIRE_API
#else
#define MARKWIRE_API __declspec(dllimport)
#endif
#else
#define MARKWIRE_CALL
#if defined(MARKWIRE_BUILDING_LIBRARY)
#define MARKWIRE_API __attribute__((visibility("default")))
#else
#define MARKWIRE_API
#endif
#endif

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The classic interface ------------------------------------------- */

/* Opens serial port number `port` (1 = COM1; /dev/ttyS0 on POSIX) and
 * hand-shakes with the reader. 255 on line (or already on line), 0 failed. */
MARKWIRE_API int MARKWIRE_CALL OmrInit(int port);
/* Sends one command ending in "/" (at most 99 characters, "/" included). */
MARKWIRE_API int MARKWIRE_CALL OmrS(const char* command);
/* Receives one data block (or a pending two-digit error code, result 255). */
MARKWIRE_API int MARKWIRE_CALL OmrG(char* buffer);
/* Always 255; the reader stays on line until the library is unloaded. */
MARKWIRE_API int MARKWIRE_CALL OmrClose(void);
MARKWIRE_API int MARKWIRE_CALL OmrGetError(char* buffer);
MARKWIRE_API int MARKWIRE_CALL OmrGetErrorStr(char* buffer);
MARKWIRE_API int MARKWIRE_CALL OmrSetTest(int line, int column);
MARKWIRE_API int MARKWIRE_CALL OmrGetValue(int selector, int* values);
MARKWIRE_API int MARKWIRE_CALL OmrGetOriOrGray(int selector, int* values);
MARKWIRE_API int MARKWIRE_CALL OmrGetCurve(int selector, int* values);
MARKWIRE_API int MARKWIRE_CALL ReadOneCard(int option, int limit, char* data);
MARKWIRE_API int MARKWIRE_CALL DownLoadFormatFile(const char* path);
MARKWIRE_API int MARKWIRE_CALL PassOneCard(int line, int column, char* data);
MARKWIRE_API int MARKWIRE_CALL AdjustGrayInfo(int first, int second);
MARKWIRE_API int MARKWIRE_CALL AdjustCardInfo(int first, int second);
MARKWIRE_API int MARKWIRE_CALL AdjustMota(int value);
MARKWIRE_API int MARKWIRE_CALL AdjustForeTime(int value);
MARKWIRE_API int MARKWIRE_CALL AdjustBehindTime(int value);
/* The synchronisation count of the last format download (0 before any). */
MARKWIRE_API int MARKWIRE_CALL OmrGetSync(void);

/* ---- Extensions ------------------------------------------------------- */

/* The hand-shake of OmrInit on a named device: "/dev/ttyUSB0", a pty path. */
MARKWIRE_API int MARKWIRE_CALL OmrInitDevice(const char* device);

/* Where the reader software would show a modal message, `handler` receives
 * its text as UTF-8 and the call goes on. NULL restores the default (one line
 * on standard error). */
typedef void (*OmrMessageHandler)(const char* utf8, void* user);
MARKWIRE_API void MARKWIRE_CALL OmrSetMessageHandler(OmrMessageHandler handler, void* user);

/* Receives the barcode decoder's trace line and, while a handler is set, one
 * line per wire transfer: direction, time in ms since the port was opened,
 * the bytes as text and as hex. NULL removes the handler. */
typedef void (*OmrTraceHandler)(const char* line, void* user);
MARKWIRE_API void MARKWIRE_CALL OmrSetTraceHandler(OmrTraceHandler handler, void* user);

/* Called while a program download ("W" command) runs: `done` of `total`
 * file bytes sent, at most once per 1 % and always at the end. It changes
 * nothing on the wire. NULL removes the handler. */
typedef void (*OmrProgressHandler)(unsigned done, unsigned total, void* user);
MARKWIRE_API void MARKWIRE_CALL OmrSetProgressHandler(OmrProgressHandler handler, void* user);

/* Why the last OmrInit or OmrInitDevice could not open the reader, as
 * text (empty when it could), cut to `size` bytes with its NUL; returns the
 * whole text's length. The classic error record is left as it is. */
MARKWIRE_API int MARKWIRE_CALL OmrGetOpenError(char* buffer, size_t size);

/* Where the barcode sits in the text ReadOneCard hands back, as the last
 * format download set it: `*length` characters from `*offset` (0, or 1 when
 * it follows the card's first data byte). A length of 0: the format reads no
 * barcode. Either pointer may be NULL. Returns 255. */
MARKWIRE_API int MARKWIRE_CALL OmrGetBarcodeLayout(int* offset, int* length);

/* How barcode reads decide what to hand back: 0 the classic algorithm
 * exactly; 1 its text only when the waveform clearly supports it (else full
 * stops, as a failed read); 2 as 1, and when the classic read fails or is
 * refused, a second decoder under the same test (the default). Returns 255,
 * or 0 for a mode that does not exist (the mode is then unchanged). */
MARKWIRE_API int MARKWIRE_CALL OmrSetBarcodeMode(int mode);

/* ---- Reader handles ---------------------------------------------------
 *
 * Each mw_open gives a reader of its own: its port, error record, barcode
 * settings and handlers. Calls on different readers may run at the same time
 * from different threads and do not wait for each other; calls on one reader
 * are serialised. The results are those of the classic function each one
 * mirrors; in addition every call returns MW_UNKNOWN_READER (-1) for a
 * handle that is NULL, closed or never opened (a closed handle stays
 * refused: handles are never reused), and every buffer comes with its size
 * and is never written beyond it. A call that waits for the reader while
 * mw_close closes it on another thread ends with MW_UNKNOWN_READER.
 * No handler of a reader is called after mw_close returns.
 */
#define MARKWIRE_VERSION_MAJOR 1
#define MARKWIRE_VERSION_MINOR 2
#define MARKWIRE_VERSION_PATCH 0

#define MW_UNKNOWN_READER (-1)
/* A buffer smaller than the call may need: nothing was sent or read. */
#define MW_SMALL_BUFFER (-2)
/* Enough for any data block with the longest barcode: mw_receive,
 * mw_read_card and mw_pass_card need at least this many bytes. */
#define MW_BLOCK_SIZE 2176

typedef struct mw_reader mw_reader;

/* "1.2.0" */
MARKWIRE_API const char* MARKWIRE_CALL mw_version(void);
/* Opens the device and hand-shakes with the reader: the handle, or NULL and
 * the reason in `why` (cut to why_size bytes, NUL-terminated; `why` may be
 * NULL). A device that a handle already holds open is refused. */
MARKWIRE_API mw_reader* MARKWIRE_CALL mw_open(const char* device, char* why, size_t why_size);
/* "Q/" to the reader, the port closed, the handle freed and refused from
 * then on. NULL or an unknown handle: nothing happens. */
MARKWIRE_API void MARKWIRE_CALL mw_close(mw_reader* reader);

/* As OmrS, OmrG and ReadOneCard. The handles write a fresh text: what the
 * buffer held before does not matter. As with OmrG, 255 and two digits in
 * the buffer mean that a status came instead of data. */
MARKWIRE_API int MARKWIRE_CALL mw_send(mw_reader* reader, const char* command);
MARKWIRE_API int MARKWIRE_CALL mw_receive(mw_reader* reader, char* buffer, size_t size);
MARKWIRE_API int MARKWIRE_CALL mw_read_card(mw_reader* reader, int option, int limit, char* data,
                                            size_t size);
/* As OmrGetError (two digits and a NUL) and OmrGetErrorStr. */
MARKWIRE_API int MARKWIRE_CALL mw_error(mw_reader* reader, char code[3]);
MARKWIRE_API int MARKWIRE_CALL mw_error_text(mw_reader* reader, char* text, size_t size);

/* The card format, and a reader program, from the file at `path` as it
 * stands: any absolute or relative path of the system, blanks and all. */
MARKWIRE_API int MARKWIRE_CALL mw_download_format(mw_reader* reader, const char* path);
MARKWIRE_API int MARKWIRE_CALL mw_download_program(mw_reader* reader, const char* path);
/* A card format given as its text (commands ending in "/"). */
MARKWIRE_API int MARKWIRE_CALL mw_download_format_text(mw_reader* reader, const char* text);

/* As PassOneCard, OmrSetTest, OmrGetSync. */
MARKWIRE_API int MARKWIRE_CALL mw_pass_card(mw_reader* reader, int line, int column, char* data,
                                            size_t size);
MARKWIRE_API int MARKWIRE_CALL mw_set_test(mw_reader* reader, int line, int column);
MARKWIRE_API int MARKWIRE_CALL mw_sync(mw_reader* reader);

/* As OmrGetBarcodeLayout, for this reader. */
MARKWIRE_API int MARKWIRE_CALL mw_barcode_layout(mw_reader* reader, int* offset, int* length);
/* As OmrGetValue, OmrGetOriOrGray and OmrGetCurve: the count of values the
 * read-out holds; at most `count` of them are written. */
MARKWIRE_API int MARKWIRE_CALL mw_get_values(mw_reader* reader, int selector, int* values,
                                             size_t count);
MARKWIRE_API int MARKWIRE_CALL mw_get_block(mw_reader* reader, int selector, int* values,
                                            size_t count);
MARKWIRE_API int MARKWIRE_CALL mw_get_curve(mw_reader* reader, int* values, size_t count);

/* As AdjustGrayInfo, AdjustCardInfo, AdjustMota, AdjustForeTime and
 * AdjustBehindTime. */
MARKWIRE_API int MARKWIRE_CALL mw_adjust_gray(mw_reader* reader, int first, int second);
MARKWIRE_API int MARKWIRE_CALL mw_adjust_card(mw_reader* reader, int first, int second);
MARKWIRE_API int MARKWIRE_CALL mw_adjust_motor(mw_reader* reader, int value);
MARKWIRE_API int MARKWIRE_CALL mw_adjust_fore(mw_reader* reader, int value);
MARKWIRE_API int MARKWIRE_CALL mw_adjust_behind(mw_reader* reader, int value);

/* As OmrSetBarcodeMode and the three handlers, for this reader alone.
 * Without a message or trace handler a reader prints nothing. */
MARKWIRE_API int MARKWIRE_CALL mw_barcode_mode(mw_reader* reader, int mode);
MARKWIRE_API int MARKWIRE_CALL mw_set_message_handler(mw_reader* reader, OmrMessageHandler handler,
                                                      void* user);
MARKWIRE_API int MARKWIRE_CALL mw_set_trace_handler(mw_reader* reader, OmrTraceHandler handler,
                                                    void* user);
MARKWIRE_API int MARKWIRE_CALL mw_set_progress_handler(mw_reader* reader,
                                                       OmrProgressHandler handler, void* user);

#ifdef __cplusplus
}
#endif

#endif /* MARKWIRE_H */
