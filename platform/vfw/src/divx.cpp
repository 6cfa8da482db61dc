// The DIVX codec's encoder and decoder over libavcodec's MPEG-4 Part 2 (see divx.h).
//
// Encoder: one frame in, one frame out (no B-frames, no look-ahead), a key frame exactly when asked (the key
// frame interval is unbounded and scene-change detection is off). Without global headers the encoder repeats
// the sequence and layer headers in front of every key frame, so a decoder can join at any key frame. Each
// frame is coded at a fixed quantiser that the quality gives; the bit-rate ceiling raises it when the recent
// frames have been too large.
//
// Decoder: the caller's buffer holds the frame followed by whatever older frames left there. The frame ends
// at the first start code after its picture's start code, at the first run of three zero bytes (which no
// picture's data holds), or, as usual, at the end of the buffer. The
// decoder is told to expect bytes behind the last macroblock (the padding workaround), so that such bytes are
// not taken for damage, while damage inside the picture still shows in the frame's error flags. The same
// frame given again shows the picture it gave the first time: it is not decoded a second time.
//
// Frames come from anyone on the network, so the decoder trusts none: a frame whose stream headers name another
// size or a stream kind the encoder never writes is refused before libavcodec sees it (mpeg4_headers.h), and
// libavcodec itself may not make pictures larger than the begun size. A key frame whose headers differ from those
// the decoder last started from, or any key frame after a failed decode, gets a fresh decoder, so that no frame
// leaves a state that the next correct key frame cannot end.
#include "divx.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>

#include "bgr_to_yuv.h"
#include "mpeg4_headers.h"

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');
constexpr int kMaxSide = 4096;
constexpr int kNominalRate = 25;  // frames per second the bit-rate ceiling assumes: the suite's rate
// Bytes of a picture, after its start code, that tell a frame given again from the next one: the picture
// header (coding type, time) and the start of its data.
constexpr size_t kRepeatBytes = 32;
constexpr int64_t kMinPixelLimit = 512 * 512;

std::mutex gSettingsLock;
TDivxSettings gSettings;
std::atomic<uint64_t> gGeneration{1};

// libavcodec reports damage it meets on standard error; here the caller gets it as a result.
void QuietLibav() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

bool IsDivx(DWORD compression) { return UpperFourcc(compression) == kDivx; }

int AbsHeight(const BITMAPINFOHEADER* bi) { return bi->biHeight < 0 ? -bi->biHeight : bi->biHeight; }

size_t DibStride(int width) { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }

// A 24-bit uncompressed picture that MPEG-4 4:2:0 can carry.
bool IsRgb24(const BITMAPINFOHEADER* bi) {
  return bi && bi->biSize >= sizeof(BITMAPINFOHEADER) && bi->biPlanes == 1 && bi->biBitCount == 24 &&
         bi->biCompression == BI_RGB && bi->biWidth > 0 && bi->biWidth <= kMaxSide && bi->biWidth % 2 == 0 &&
         bi->biHeight != 0 && bi->biHeight >= -kMaxSide && bi->biHeight <= kMaxSide && bi->biHeight % 2 == 0;
}

bool IsCompressed(const BITMAPINFOHEADER* bi, int width, int height) {
  return bi && bi->biSize >= sizeof(BITMAPINFOHEADER) && IsDivx(bi->biCompression) && bi->biWidth == width &&
         bi->biHeight != 0 && bi->biHeight >= -kMaxSide && bi->biHeight <= kMaxSide && AbsHeight(bi) == height;
}

bool IsRgb24Of(const BITMAPINFOHEADER* bi, int width, int height) {
  return IsRgb24(bi) && bi->biWidth == width && AbsHeight(bi) == height;
}

bool IsStartCode(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 1; }

// Colour conversion. Decoding takes libswscale's direct 4:2:0-to-BGR routine, which gives each chroma sample
// to its 2 x 2 pixels; it runs only without accurate rounding, and full chroma interpolation is the slow
// general path. Encoding averages each 2 x 2 block's chroma (bgr_to_yuv.h), which is what that replication
// restores best, so a picture keeps its quality over the round trip. (libswscale's direct BGR-to-4:2:0 routine
// samples chroma instead of averaging it: with the replicating decoder that costs close to 1 dB; its averaging
// path costs three times the time of ours.) The direct decoding routine writes whole groups of 16 pixels, past
// the end of a row of any other width, so other widths keep the general path, which writes exactly the picture.
constexpr int kDecodeScaleFlags = SWS_POINT;
constexpr int kDecodeScaleFlagsAnyWidth = SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
constexpr int kDirectGroup = 16;

// Position of the first start code at or after from, or size.
size_t NextStartCode(const uint8_t* data, size_t size, size_t from) {
  size_t i = from + 2;
  while (i < size) {
    const void* hit = std::memchr(data + i, 1, size - i);
    if (!hit) return size;
    i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
    if (data[i - 1] == 0 && data[i - 2] == 0) return i - 2;
    ++i;
  }
  return size;
}

// Position of the first start code or run of three zero bytes at or after from, or size. A picture's data
// never holds 23 zero bits in a row (that keeps start codes unique), so this is where it has ended, and the
// zeros or older frames behind it in the caller's buffer need not be scanned.
size_t PictureEnd(const uint8_t* data, size_t size, size_t from) {
  size_t i = from;
  while (i + 2 < size) {
    if (data[i + 2] > 1) i += 3;
    else if (data[i + 1] != 0) i += 2;
    else if (data[i] != 0) i += 1;
    else return i;
  }
  return size;
}

}  // namespace

TDivxSettings TDivxSettings::Current() {
  std::lock_guard<std::mutex> lock(gSettingsLock);
  return gSettings;
}

void TDivxSettings::SetCurrent(const TDivxSettings& settings) {
  {
    std::lock_guard<std::mutex> lock(gSettingsLock);
    gSettings.BitRate = std::clamp(settings.BitRate, kDivxMinBitRate, kDivxMaxBitRate);
    gSettings.Quality = std::clamp(settings.Quality, 1, 100);
  }
  gGeneration.fetch_add(1);
}

uint64_t TDivxSettings::Generation() { return gGeneration.load(); }

DWORD UpperFourcc(DWORD fcc) {
  DWORD r = 0;
  for (int i = 0; i < 4; ++i) {
    auto c = static_cast<unsigned char>(fcc >> (8 * i));
    if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
    r |= static_cast<DWORD>(c) << (8 * i);
  }
  return r;
}

int DivxQuantizer(int quality) {
  quality = std::clamp(quality, 1, 100);
  return 2 + static_cast<int>(std::lround((100 - quality) * 29.0 / 99.0));
}

size_t DivxFrameLength(const uint8_t* data, size_t size, size_t* picture) {
  if (!data || size < 4 || !IsStartCode(data)) return 0;
  size_t at = 0;
  while (at < size) {
    if (at + 3 < size && data[at + 3] == 0xB6) {
      if (picture) *picture = at;
      return PictureEnd(data, size, at + 4);
    }
    at = NextStartCode(data, size, at + 3);
  }
  return 0;
}

// ---- encoder ----

TDivxEncoder::TDivxEncoder() { QuietLibav(); }
TDivxEncoder::~TDivxEncoder() { Close(); }

LRESULT TDivxEncoder::Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const {
  if (!IsRgb24(in)) return ICERR_BADFORMAT;
  if (out && !IsCompressed(out, in->biWidth, AbsHeight(in))) return ICERR_BADFORMAT;
  return ICERR_OK;
}

LRESULT TDivxEncoder::Begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (!in || !out || Query(in, out) != ICERR_OK) return ICERR_BADFORMAT;
  Close();
  FWidth = in->biWidth;
  FHeight = AbsHeight(in);
  FHasFormat = true;
  if (!Open()) return ICERR_MEMORY;
  return ICERR_OK;
}

LRESULT TDivxEncoder::End() {
  Close();
  return ICERR_OK;
}

bool TDivxEncoder::Open() {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  if (!codec) return false;
  FGeneration = TDivxSettings::Generation();
  FSettings = TDivxSettings::Current();
  FContext = avcodec_alloc_context3(codec);
  FFrame = av_frame_alloc();
  FPacket = av_packet_alloc();
  if (!FContext || !FFrame || !FPacket) {
    Close();
    return false;
  }
  AVCodecContext* c = FContext;
  c->width = FWidth;
  c->height = FHeight;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, kNominalRate};
  c->framerate = AVRational{kNominalRate, 1};
  c->max_b_frames = 0;
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  c->global_quality = FF_QP2LAMBDA * DivxQuantizer(FSettings.Quality);
  // Key frames come only when the caller asks: an unbounded interval (beyond the usual limit of 600, which
  // only the experimental compliance level lifts; no experimental coding tool is enabled) and no scene-change
  // detection.
  c->gop_size = 1 << 30;
  c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
  av_opt_set_int(c, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
  if (avcodec_open2(c, codec, nullptr) < 0) {
    Close();
    return false;
  }
  FFrame->format = AV_PIX_FMT_YUV420P;
  FFrame->width = FWidth;
  FFrame->height = FHeight;
  if (av_frame_get_buffer(FFrame, 0) < 0) {
    Close();
    return false;
  }
  FPts = 0;
  FForceKey = true;
  FComplexity = 0;
  return true;
}

void TDivxEncoder::Close() {
  avcodec_free_context(&FContext);
  av_frame_free(&FFrame);
  av_packet_free(&FPacket);
}

LRESULT TDivxEncoder::Compress(const ICCOMPRESS& ic) {
  if (!ic.lpbiOutput) return ICERR_BADPARAM;
  ic.lpbiOutput->biSizeImage = 0;
  if (!ic.lpOutput || !ic.lpbiInput || !ic.lpInput) return ICERR_BADPARAM;
  if (!FHasFormat) return ICERR_ERROR;
  if (!IsRgb24Of(ic.lpbiInput, FWidth, FHeight) || !IsCompressed(ic.lpbiOutput, FWidth, FHeight))
    return ICERR_BADFORMAT;
  // New settings from the dialog take effect here, between two frames, with a key frame that carries the
  // headers of the new stream.
  if (FContext && FGeneration != TDivxSettings::Generation()) Close();
  if (!FContext && !Open()) return ICERR_MEMORY;
  if (av_frame_make_writable(FFrame) < 0) return ICERR_MEMORY;

  const size_t stride = DibStride(FWidth);
  const uint8_t* src = static_cast<const uint8_t*>(ic.lpInput);
  ptrdiff_t srcStride = static_cast<ptrdiff_t>(stride);
  if (ic.lpbiInput->biHeight > 0) {  // bottom-up: start at the last row in memory, the picture's top
    src += stride * static_cast<size_t>(FHeight - 1);
    srcStride = -srcStride;
  }
  BgrToYuv420(src, srcStride, FWidth, FHeight,
              TYuvPlanes{FFrame->data[0], FFrame->data[1], FFrame->data[2], FFrame->linesize[0],
                         FFrame->linesize[1], FFrame->linesize[2]});

  const bool key = (ic.dwFlags & ICCOMPRESS_KEYFRAME) || FForceKey;
  int quantizer = DivxQuantizer(ic.dwQuality ? static_cast<int>(std::min<DWORD>(ic.dwQuality, 10000) / 100)
                                             : FSettings.Quality);
  if (FSettings.BitRate > 0 && FComplexity > 0) {
    double budget = FSettings.BitRate * 1000.0 / kNominalRate;
    quantizer = std::max(quantizer, static_cast<int>(std::ceil(FComplexity / budget)));
  }
  quantizer = std::clamp(quantizer, 2, 31);
  FFrame->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  FFrame->quality = FF_QP2LAMBDA * quantizer;
  FFrame->pts = FPts++;

  if (avcodec_send_frame(FContext, FFrame) < 0) {
    FForceKey = true;
    return ICERR_INTERNAL;
  }
  if (avcodec_receive_packet(FContext, FPacket) < 0) {
    FForceKey = true;
    return ICERR_INTERNAL;
  }
  const size_t size = static_cast<size_t>(FPacket->size);
  const bool isKey = (FPacket->flags & AV_PKT_FLAG_KEY) != 0;
  if (size > static_cast<size_t>(FWidth) * static_cast<size_t>(FHeight) * 3) {
    // Refused: the receiver never sees this picture, so the next frame must not refer to it.
    av_packet_unref(FPacket);
    FForceKey = true;
    return ICERR_BADSIZE;
  }
  std::memcpy(ic.lpOutput, FPacket->data, size);
  av_packet_unref(FPacket);
  ic.lpbiOutput->biSizeImage = static_cast<DWORD>(size);
  if (ic.lpdwFlags) *ic.lpdwFlags = isKey ? AVIIF_KEYFRAME : 0;
  if (ic.lpckid) *ic.lpckid = mmioFOURCC('0', '0', 'd', 'c');
  FForceKey = false;
  // Key frames are rare and large; the ceiling steers by the frames between them.
  if (!isKey || FComplexity == 0) {
    double complexity = static_cast<double>(size) * 8.0 * quantizer;
    FComplexity = FComplexity == 0 ? complexity : 0.8 * FComplexity + 0.2 * complexity;
  }
  return ICERR_OK;
}

// ---- decoder ----

TDivxDecoder::TDivxDecoder() { QuietLibav(); }
TDivxDecoder::~TDivxDecoder() { Close(); }

LRESULT TDivxDecoder::Query(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const {
  if (!in || in->biWidth <= 0 || in->biWidth > kMaxSide || in->biWidth % 2 != 0 ||
      !IsCompressed(in, in->biWidth, AbsHeight(in)) || AbsHeight(in) % 2 != 0)
    return ICERR_BADFORMAT;
  if (out && !IsRgb24Of(out, in->biWidth, AbsHeight(in))) return ICERR_BADFORMAT;
  return ICERR_OK;
}

LRESULT TDivxDecoder::Begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
  if (!in || !out || Query(in, out) != ICERR_OK) return ICERR_BADFORMAT;
  Close();
  FWidth = in->biWidth;
  FHeight = AbsHeight(in);
  FHasFormat = true;
  if (!Open()) return ICERR_MEMORY;
  return ICERR_OK;
}

LRESULT TDivxDecoder::End() {
  Close();
  return ICERR_OK;
}

bool TDivxDecoder::Open() {
  FFrame = av_frame_alloc();
  FLast = av_frame_alloc();
  FPacket = av_packet_alloc();
  if (!FFrame || !FLast || !FPacket || !OpenContext()) {
    Close();
    return false;
  }
  FScaler = sws_getContext(FWidth, FHeight, AV_PIX_FMT_YUV420P, FWidth, FHeight, AV_PIX_FMT_BGR24,
                           FWidth % kDirectGroup == 0 ? kDecodeScaleFlags : kDecodeScaleFlagsAnyWidth, nullptr,
                           nullptr, nullptr);
  if (!FScaler) {
    Close();
    return false;
  }
  return true;
}

// What one frame can make libavcodec do stays bounded by the begun size: it refuses larger pictures before it
// allocates for them (the headers were checked before, this holds should a check miss a way), and decodes on the
// caller's thread alone. Error concealment stays on: it costs little at this size and gives the frames that
// follow a damaged one a better picture to predict from.
bool TDivxDecoder::OpenContext() {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  if (!codec) return false;
  FContext = avcodec_alloc_context3(codec);
  if (!FContext) return false;
  FContext->thread_count = 1;
  FContext->flags |= AV_CODEC_FLAG_LOW_DELAY;
  FContext->workaround_bugs = FF_BUG_NO_PADDING;
  // The limit also applies to working buffers that, for small pictures, are much larger than the picture: four
  // times the begun size, and at least 512 x 512, leaves room for them.
  FContext->max_pixels = std::max<int64_t>(int64_t{4} * FWidth * FHeight, kMinPixelLimit);
  if (avcodec_open2(FContext, codec, nullptr) < 0) {
    avcodec_free_context(&FContext);
    return false;
  }
  FStreamState.clear();
  FRestart = false;
  return true;
}

void TDivxDecoder::Close() {
  avcodec_free_context(&FContext);
  av_buffer_unref(&FBuffer);
  av_frame_free(&FFrame);
  av_frame_free(&FLast);
  FLastHead.clear();
  FStreamState.clear();
  av_packet_free(&FPacket);
  sws_freeContext(FScaler);
  FScaler = nullptr;
}

LRESULT TDivxDecoder::Decompress(const ICDECOMPRESS& ic) {
  if (!ic.lpbiInput || !ic.lpInput || !ic.lpbiOutput || !ic.lpOutput) return ICERR_BADPARAM;
  if (!FHasFormat) return ICERR_ERROR;
  if (!IsCompressed(ic.lpbiInput, FWidth, FHeight) || !IsRgb24Of(ic.lpbiOutput, FWidth, FHeight))
    return ICERR_BADFORMAT;
  const size_t limit = ic.lpbiInput->biSizeImage;
  if (limit == 0) return ICERR_BADSIZE;
  const auto* in = static_cast<const uint8_t*>(ic.lpInput);
  size_t picture = 0;
  const size_t length = DivxFrameLength(in, limit, &picture);
  if (length == 0) return ICERR_ERROR;
  const TMpeg4StreamHeaders headers = ReadMpeg4StreamHeaders(in, picture, FWidth, FHeight);
  if (!headers.Acceptable) return ICERR_BADFORMAT;
  if (!FContext && !Open()) return ICERR_MEMORY;

  // The receiver decodes a complete frame again when more bytes arrive behind it, and the player redraws its
  // last record at the end of a file: decoding a predicted picture twice would add its changes twice, so the
  // same frame shows the same picture.
  const size_t head = std::min(length, picture + 4 + kRepeatBytes);
  if (!FLastHead.empty() && FLastHead.size() == head && std::memcmp(FLastHead.data(), in, head) == 0) {
    Output(FLast, ic);
    return ICERR_OK;
  }
  FLastHead.clear();
  av_frame_unref(FLast);

  if (headers.HasLayer && (FRestart || headers.State != FStreamState)) {
    avcodec_free_context(&FContext);
    if (!OpenContext()) {
      Close();
      return ICERR_MEMORY;
    }
    FStreamState = headers.State;
  }

  // One copy, into a buffer the decoder takes by reference; the decoder reads a little past the end.
  const size_t needed = length + AV_INPUT_BUFFER_PADDING_SIZE;
  if (!FBuffer || static_cast<size_t>(FBuffer->size) < needed || !av_buffer_is_writable(FBuffer)) {
    av_buffer_unref(&FBuffer);
    const size_t largest = static_cast<size_t>(FWidth) * FHeight * 3 + AV_INPUT_BUFFER_PADDING_SIZE;
    FBuffer = av_buffer_alloc(std::max(needed, largest));
    if (!FBuffer) return ICERR_MEMORY;
  }
  std::memcpy(FBuffer->data, in, length);
  std::memset(FBuffer->data + length, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  FPacket->buf = av_buffer_ref(FBuffer);
  if (!FPacket->buf) return ICERR_MEMORY;
  FPacket->data = FBuffer->data;
  FPacket->size = static_cast<int>(length);
  int sent = avcodec_send_packet(FContext, FPacket);
  av_packet_unref(FPacket);
  // Whatever a failed frame left in libavcodec ends at the next key frame.
  auto failed = [this] {
    FRestart = true;
    return ICERR_ERROR;
  };
  if (sent < 0) return failed();
  if (avcodec_receive_frame(FContext, FFrame) < 0) return failed();

  if (FFrame->decode_error_flags != 0 || FFrame->width != FWidth || FFrame->height != FHeight ||
      FFrame->format != AV_PIX_FMT_YUV420P) {
    av_frame_unref(FFrame);
    return failed();
  }
  Output(FFrame, ic);
  av_frame_move_ref(FLast, FFrame);
  FLastHead.assign(in, in + head);
  return ICERR_OK;
}

void TDivxDecoder::Output(const AVFrame* picture, const ICDECOMPRESS& ic) {
  const size_t stride = DibStride(FWidth);
  auto* dst = static_cast<uint8_t*>(ic.lpOutput);
  int dstStride = static_cast<int>(stride);
  if (ic.lpbiOutput->biHeight > 0) {
    dst += stride * static_cast<size_t>(FHeight - 1);
    dstStride = -dstStride;
  }
  uint8_t* dstPlanes[4] = {dst, nullptr, nullptr, nullptr};
  const int dstStrides[4] = {dstStride, 0, 0, 0};
  sws_scale(FScaler, picture->data, picture->linesize, 0, FHeight, dstPlanes, dstStrides);
}
