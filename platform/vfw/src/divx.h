// The DIVX codec behind the compression manager: MPEG-4 Part 2 (simple profile tools, no B-frames) through
// libavcodec, 24-bit BGR DIBs in and out, converted with libswscale. Internal to platform/vfw; tests and
// benchmarks use it through ICOpen/ICSendMessage, and use TDivxSettings to change the settings the way the
// configuration dialog does.
#pragma once

#include <cstdint>
#include <vector>

#include "vfw/compman.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVBufferRef;
struct SwsContext;

// The process-wide settings that the configuration dialog sets. Thread-safe.
struct TDivxSettings {
  int BitRate = 4000;  // kbit/s at 25 frames per second, a ceiling; 0: no ceiling
  int Quality = 85;    // 1 (coarsest) .. 100 (finest)

  static TDivxSettings Current();
  static void SetCurrent(const TDivxSettings& settings);
  static uint64_t Generation();  // changes with every SetCurrent
};

constexpr int kDivxMinBitRate = 0;
constexpr int kDivxMaxBitRate = 100000;

// A four-character code with its letters in upper case: handler and compression codes compare without case.
DWORD UpperFourcc(DWORD fcc);

// Quantiser of a quality 1..100 (31 .. 2).
int DivxQuantizer(int quality);

class TDivxEncoder {
 public:
  TDivxEncoder();
  ~TDivxEncoder();
  TDivxEncoder(const TDivxEncoder&) = delete;
  TDivxEncoder& operator=(const TDivxEncoder&) = delete;

  LRESULT Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const;
  LRESULT Begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
  LRESULT End();
  LRESULT Compress(const ICCOMPRESS& ic);

 private:
  bool Open();
  void Close();

  bool FHasFormat = false;
  int FWidth = 0;
  int FHeight = 0;
  AVCodecContext* FContext = nullptr;
  AVFrame* FFrame = nullptr;
  AVPacket* FPacket = nullptr;
  TDivxSettings FSettings;
  uint64_t FGeneration = 0;
  int64_t FPts = 0;
  bool FForceKey = true;
  double FComplexity = 0;  // bits x quantiser, averaged: what the bit-rate ceiling steers by
};

class TDivxDecoder {
 public:
  TDivxDecoder();
  ~TDivxDecoder();
  TDivxDecoder(const TDivxDecoder&) = delete;
  TDivxDecoder& operator=(const TDivxDecoder&) = delete;

  LRESULT Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const;
  LRESULT Begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
  LRESULT End();
  LRESULT Decompress(const ICDECOMPRESS& ic);

 private:
  bool Open();
  bool OpenContext();  // a fresh libavcodec decoder in FContext
  void Close();
  void Output(const AVFrame* picture, const ICDECOMPRESS& ic);

  bool FHasFormat = false;
  int FWidth = 0;
  int FHeight = 0;
  AVCodecContext* FContext = nullptr;
  AVFrame* FFrame = nullptr;
  AVPacket* FPacket = nullptr;
  SwsContext* FScaler = nullptr;
  AVBufferRef* FBuffer = nullptr;  // the frame's bytes and the zero padding the decoder reads past the end
  // The picture decoded last and the start of its frame (headers, picture header, first data): a frame that
  // is given again shows that picture instead of being decoded a second time.
  AVFrame* FLast = nullptr;
  std::vector<uint8_t> FLastHead;
  // The stream headers the decoder last started from (TMpeg4StreamHeaders::State), and whether a frame has failed
  // since: a key frame with other headers, or any key frame after a failure, starts a fresh decoder.
  std::vector<uint8_t> FStreamState;
  bool FRestart = false;
};

// Finds the first frame in data[0, size): it must start with a start code; it ends at the first start code
// or run of three zero bytes after its picture's start code, or at size. Returns its length, or 0 when there is no picture in it; when
// picture is given, it receives the offset of the picture's start code.
size_t DivxFrameLength(const uint8_t* data, size_t size, size_t* picture = nullptr);

// The configuration dialog (Qt, modal) or, unattended, its caption on standard error. True when it ran.
bool DivxConfigureDialog(HWND parent);
