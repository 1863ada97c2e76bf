# The library's exports, the one list both the DLL's module-definition file
# and the shared library's version script are written from: name, bytes of
# arguments (for the 32-bit __stdcall decoration), ordinal. The 19 classic
# functions keep ordinals 1 to 19; the extensions follow from 20, the reader
# handles from 25, and later additions after them.
set(MARKWIRE_EXPORTS
  "OmrInit 4 1" "OmrS 4 2" "OmrG 4 3" "OmrClose 0 4" "OmrGetError 4 5" "OmrGetErrorStr 4 6"
  "OmrSetTest 8 7" "OmrGetValue 8 8" "OmrGetOriOrGray 8 9" "OmrGetCurve 8 10"
  "ReadOneCard 12 11" "DownLoadFormatFile 4 12" "PassOneCard 12 13" "AdjustGrayInfo 8 14"
  "AdjustCardInfo 8 15" "AdjustMota 4 16" "AdjustForeTime 4 17" "AdjustBehindTime 4 18"
  "OmrGetSync 0 19"
  "OmrInitDevice 4 20" "OmrSetMessageHandler 8 21" "OmrSetTraceHandler 8 22"
  "OmrSetProgressHandler 8 23" "OmrSetBarcodeMode 4 24"
  "mw_version 0 25" "mw_open 12 26" "mw_close 4 27" "mw_send 8 28" "mw_receive 12 29"
  "mw_read_card 20 30" "mw_error 8 31" "mw_error_text 12 32" "mw_download_format 8 33"
  "mw_download_program 8 34" "mw_download_format_text 8 35" "mw_pass_card 20 36"
  "mw_set_test 12 37" "mw_sync 4 38" "mw_get_values 16 39" "mw_get_block 16 40"
  "mw_get_curve 12 41" "mw_adjust_gray 12 42" "mw_adjust_card 12 43" "mw_adjust_motor 8 44"
  "mw_adjust_fore 8 45" "mw_adjust_behind 8 46" "mw_barcode_mode 8 47"
  "mw_set_message_handler 12 48" "mw_set_trace_handler 12 49" "mw_set_progress_handler 12 50"
  "OmrGetOpenError 8 51" "OmrGetBarcodeLayout 8 52" "mw_barcode_layout 12 53")

# Writes a module-definition file. On 32-bit Windows the symbols carry their
# __stdcall decoration ("OmrInit@4"): linked with --kill-at the DLL exports
# the plain name, while the import library still matches callers compiled
# against the header.
function(markwire_write_def path decorate)
  set(text "LIBRARY Markwire.dll\nEXPORTS\n")
  foreach(entry IN LISTS MARKWIRE_EXPORTS)
    string(REPLACE " " ";" fields "${entry}")
    list(GET fields 0 name)
    list(GET fields 1 bytes)
    list(GET fields 2 ordinal)
    if(decorate)
      string(APPEND text "  ${name}@${bytes} @${ordinal}\n")
    else()
      string(APPEND text "  ${name} @${ordinal}\n")
    endif()
  endforeach()
  file(WRITE "${path}" "${text}")
endfunction()

# Writes the version script of the shared library: the exports, nothing else.
function(markwire_write_map path)
  set(names "")
  foreach(entry IN LISTS MARKWIRE_EXPORTS)
    string(REPLACE " " ";" fields "${entry}")
    list(GET fields 0 name)
    string(APPEND names "    ${name};\n")
  endforeach()
  file(WRITE "${path}" "{\n  global:\n${names}  local: *;\n};\n")
endfunction()
