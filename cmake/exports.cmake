# The DLL's exports: name, bytes of arguments (for the 32-bit __stdcall
# decoration), ordinal. The 19 classic functions keep ordinals 1 to 19; the
# extensions follow from 20.
set(MARKWIRE_EXPORTS
  "OmrInit 4 1" "OmrS 4 2" "OmrG 4 3" "OmrClose 0 4" "OmrGetError 4 5" "OmrGetErrorStr 4 6"
  "OmrSetTest 8 7" "OmrGetValue 8 8" "OmrGetOriOrGray 8 9" "OmrGetCurve 8 10"
  "ReadOneCard 12 11" "DownLoadFormatFile 4 12" "PassOneCard 12 13" "AdjustGrayInfo 8 14"
  "AdjustCardInfo 8 15" "AdjustMota 4 16" "AdjustForeTime 4 17" "AdjustBehindTime 4 18"
  "OmrGetSync 0 19"
  "OmrInitDevice 4 20" "OmrSetMessageHandler 8 21" "OmrSetTraceHandler 8 22"
  "OmrSetProgressHandler 8 23" "OmrSetBarcodeMode 4 24")

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
