// The video compression manager: opening an installed codec by type and handler code, sending it messages,
// and the compress/decompress calls built on them. Used by the three programs (DIVX codec, mode 5) and by
// tests and benchmarks.
//
// What callers may rely on:
// - ICOpen gives 0 for a handler that is not installed. Every call on 0 or on a closed handle fails harmlessly
//   (ICERR_BADHANDLE; ICQueryConfigure gives FALSE) and writes no frame buffer (ICCompress still sets the
//   output record's biSizeImage to 0).
// - One handle carries an independent compressor and decompressor; a handle opened for compression
//   (ICMODE_COMPRESS, ICMODE_FASTCOMPRESS) also decompresses. Compressor and decompressor may run on different
//   threads at the same time; one of them must not be driven from two threads at once.
// - A begin may be repeated (it starts a new stream); an end without a begin is harmless; after an end the
//   next call of the same side starts afresh with the formats of the last begin.
// - ICCompress always writes the output record's biSizeImage: the compressed size, or 0 when it fails. It never
//   writes more than width x height x 3 bytes of output (biSizeImage on entry is not a capacity).
// - ICDecompress reads at most the input record's biSizeImage bytes, finds the end of the first frame itself
//   (bytes behind it may be left over from older frames), and on damaged input returns an error and leaves the
//   output buffer as it was. The same frame given again (with other bytes behind it, or the same) gives the
//   same picture again.
// - ICConfigure shows the codec's own modal dialog (bit rate and quality for the rest of the process); it may
//   run while another thread compresses. With TARVO_UNATTENDED=1 it writes its caption to standard error and
//   answers at once as if accepted unchanged.
#pragma once

#include <type_traits>

#include "win32/bitmap.h"
#include "win32/types.h"

struct HIC__;
using HIC = HIC__*;

constexpr DWORD mmioFOURCC(char c0, char c1, char c2, char c3) {
  return static_cast<DWORD>(static_cast<BYTE>(c0)) | (static_cast<DWORD>(static_cast<BYTE>(c1)) << 8) |
         (static_cast<DWORD>(static_cast<BYTE>(c2)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(c3)) << 24);
}

constexpr DWORD ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');

// ICOpen modes.
constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;

// Results. Negative values are errors; as the DWORD of ICCompress/ICDecompress they read as large numbers.
constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_DONTDRAW = 1;
constexpr LRESULT ICERR_NEWPALETTE = 2;
constexpr LRESULT ICERR_GOTOKEYFRAME = 3;
constexpr LRESULT ICERR_STOPDRAWING = 4;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;
constexpr LRESULT ICERR_BADBITDEPTH = -200;
constexpr LRESULT ICERR_BADIMAGESIZE = -201;

// Messages.
constexpr UINT ICM_USER = 0x4000;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;  // 0x4007, dw1 input BITMAPINFO*, dw2 output BITMAPINFO*
constexpr UINT ICM_COMPRESS = ICM_USER + 8;        // dw1 ICCOMPRESS*, dw2 its size
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;    // 0x4009
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;  // 0x400C
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;        // dw1 ICDECOMPRESS*, dw2 its size
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;    // 0x400E
constexpr UINT ICM_RESERVED = 0x5000;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;  // 0x500A, dw1 parent window or -1, dw2 ICMF_CONFIGURE_QUERY

constexpr DWORD ICMF_CONFIGURE_QUERY = 0x00000001;

// Flags.
constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;  // ICCompress dwFlags: make this frame a key frame
constexpr DWORD AVIIF_KEYFRAME = 0x00000010;       // ICCompress *lpdwFlags on return: the frame is a key frame

// The records behind ICM_COMPRESS and ICM_DECOMPRESS.
struct ICCOMPRESS {
  DWORD dwFlags;
  LPBITMAPINFOHEADER lpbiOutput;
  LPVOID lpOutput;
  LPBITMAPINFOHEADER lpbiInput;
  LPVOID lpInput;
  LPDWORD lpckid;
  LPDWORD lpdwFlags;
  LONG lFrameNum;
  DWORD dwFrameSize;
  DWORD dwQuality;  // 0..10000; 0: the configured quality
  LPBITMAPINFOHEADER lpbiPrev;
  LPVOID lpPrev;
};

struct ICDECOMPRESS {
  DWORD dwFlags;
  LPBITMAPINFOHEADER lpbiInput;
  LPVOID lpInput;
  LPBITMAPINFOHEADER lpbiOutput;
  LPVOID lpOutput;
  DWORD ckid;
};

extern "C" {

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);
LRESULT ICClose(HIC hic);
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);

DWORD ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData, LPBITMAPINFOHEADER lpbiInput,
                 LPVOID lpBits, LPDWORD lpckid, LPDWORD lpdwFlags, LONG lFrameNum, DWORD dwFrameSize,
                 DWORD dwQuality, LPBITMAPINFOHEADER lpbiPrev, LPVOID lpPrev);
DWORD ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData, LPBITMAPINFOHEADER lpbi,
                   LPVOID lpBits);

}  // extern "C"

// The begin, end and configuration helpers take either record type, as the programs hold BITMAPINFO records.
template <class T>
concept TBitmapRecord = std::is_same_v<std::remove_cv_t<T>, BITMAPINFO> ||
                        std::is_same_v<std::remove_cv_t<T>, BITMAPINFOHEADER>;

template <TBitmapRecord TIn, TBitmapRecord TOut>
inline LRESULT ICCompressBegin(HIC hic, TIn* lpbiInput, TOut* lpbiOutput) {
  return ICSendMessage(hic, ICM_COMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(lpbiInput),
                       reinterpret_cast<DWORD_PTR>(lpbiOutput));
}
inline LRESULT ICCompressEnd(HIC hic) { return ICSendMessage(hic, ICM_COMPRESS_END, 0, 0); }

template <TBitmapRecord TIn, TBitmapRecord TOut>
inline LRESULT ICDecompressBegin(HIC hic, TIn* lpbiInput, TOut* lpbiOutput) {
  return ICSendMessage(hic, ICM_DECOMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(lpbiInput),
                       reinterpret_cast<DWORD_PTR>(lpbiOutput));
}
inline LRESULT ICDecompressEnd(HIC hic) { return ICSendMessage(hic, ICM_DECOMPRESS_END, 0, 0); }

inline BOOL ICQueryConfigure(HIC hic) {
  return ICSendMessage(hic, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY) == ICERR_OK;
}
inline LRESULT ICConfigure(HIC hic, HWND hwnd) {
  return ICSendMessage(hic, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(hwnd), 0);
}
