// DIVX compress and decompress rates at 352 x 288 through ICCompress/ICDecompress, each against a bare
// libavcodec loop that does the same work (the codec's own BGR conversion for encoding, libswscale with the
// codec's flags for decoding, coding with the same settings) without the compression manager. Frames per second
// are the items per second; the ratio of the two is the layer's cost. BM_BgrToYuv420 and BM_SwscaleBgrToYuv420
// compare the encoder's conversion with libswscale's averaging path (area filter, accurate rounding, full
// chroma input), which gives nearly the same planes.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <stdexcept>

#include "bench_frames.h"
#include "bgr_to_yuv.h"
#include "divx.h"

using namespace vfwbench;

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

// The programs' stream: a key frame every 125 frames.
std::vector<std::vector<uint8_t>> CompressedStream() {
  HIC hic = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
  ICCompressBegin(hic, &in, &out);
  std::vector<uint8_t> buffer(kBuffer);
  std::vector<std::vector<uint8_t>> stream;
  for (int n = 0; n < kFrames; ++n) {
    ICCompress(hic, n == 0 ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, buffer.data(), &in.bmiHeader,
               const_cast<uint8_t*>(Pictures()[n].data()), nullptr, nullptr, n + 1, 0, 0, nullptr, nullptr);
    stream.emplace_back(buffer.begin(), buffer.begin() + out.bmiHeader.biSizeImage);
  }
  ICClose(hic);
  return stream;
}

void BM_ICCompress(benchmark::State& state) {
  const auto& pictures = Pictures();
  HIC hic = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  BITMAPINFO in = Record(BI_RGB), out = Record(kDivx);
  ICCompressBegin(hic, &in, &out);
  std::vector<uint8_t> buffer(kBuffer);
  uint32_t n = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    DWORD flags = 0;
    const auto& picture = pictures[n % kFrames];
    ++n;
    DWORD r = ICCompress(hic, n % 125 == 1 ? ICCOMPRESS_KEYFRAME : 0, &out.bmiHeader, buffer.data(), &in.bmiHeader,
                         const_cast<uint8_t*>(picture.data()), nullptr, &flags, static_cast<LONG>(n), 0, 0,
                         nullptr, nullptr);
    if (r != 0) state.SkipWithError("ICCompress failed");
    bytes += out.bmiHeader.biSizeImage;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["bytes_per_frame"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
  ICClose(hic);
}

void BM_BareEncode(benchmark::State& state) {
  const auto& pictures = Pictures();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->width = kWidth;
  c->height = kHeight;
  c->pix_fmt = AV_PIX_FMT_YUV420P;
  c->time_base = AVRational{1, 25};
  c->max_b_frames = 0;
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_QSCALE;
  const int q = DivxQuantizer(TDivxSettings::Current().Quality);
  c->global_quality = FF_QP2LAMBDA * q;
  c->gop_size = 1 << 30;
  c->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
  av_opt_set_int(c, "sc_threshold", 1000000000, AV_OPT_SEARCH_CHILDREN);
  if (avcodec_open2(c, codec, nullptr) < 0) throw std::runtime_error("no MPEG-4 encoder");
  AVFrame* frame = av_frame_alloc();
  frame->format = AV_PIX_FMT_YUV420P;
  frame->width = kWidth;
  frame->height = kHeight;
  av_frame_get_buffer(frame, 0);
  AVPacket* packet = av_packet_alloc();
  const int stride = kWidth * 3;
  int64_t n = 0;
  for (auto _ : state) {
    const uint8_t* src = pictures[n % kFrames].data() + static_cast<size_t>(stride) * (kHeight - 1);
    av_frame_make_writable(frame);
    BgrToYuv420(src, -stride, kWidth, kHeight,
                TYuvPlanes{frame->data[0], frame->data[1], frame->data[2], frame->linesize[0], frame->linesize[1],
                           frame->linesize[2]});
    frame->pict_type = n % 125 == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    frame->quality = FF_QP2LAMBDA * q;
    frame->pts = n++;
    avcodec_send_frame(c, frame);
    if (avcodec_receive_packet(c, packet) == 0) av_packet_unref(packet);
  }
  state.SetItemsProcessed(state.iterations());
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&c);
}

void BM_ICDecompress(benchmark::State& state) {
  // As the receiver and the player call it: the frame at the start of a program-sized buffer whose bytes
  // behind it are left over, and the record's size 304,128.
  std::vector<std::vector<uint8_t>> stream = CompressedStream();
  std::vector<std::vector<uint8_t>> buffers;
  std::vector<uint8_t> stale(kBuffer, 0);
  for (auto& f : stream) {
    std::memcpy(stale.data(), f.data(), f.size());
    buffers.push_back(stale);
  }
  HIC hic = ICOpen(ICTYPE_VIDEO, kDivx, ICMODE_FASTCOMPRESS);
  BITMAPINFO in = Record(kDivx), out = Record(BI_RGB);
  ICDecompressBegin(hic, &in, &out);
  std::vector<uint8_t> picture(kBuffer);
  size_t n = 0;
  for (auto _ : state) {
    DWORD r = ICDecompress(hic, 0, &in.bmiHeader, buffers[n++ % kFrames].data(), &out.bmiHeader, picture.data());
    if (r != 0) state.SkipWithError("ICDecompress failed");
  }
  state.SetItemsProcessed(state.iterations());
  ICClose(hic);
}

void BM_BareDecode(benchmark::State& state) {
  std::vector<std::vector<uint8_t>> stream = CompressedStream();
  for (auto& f : stream) f.resize(f.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
  AVCodecContext* c = avcodec_alloc_context3(codec);
  c->thread_count = 1;
  c->flags |= AV_CODEC_FLAG_LOW_DELAY;
  avcodec_open2(c, codec, nullptr);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_YUV420P, kWidth, kHeight, AV_PIX_FMT_BGR24,
                                   SWS_POINT, nullptr, nullptr, nullptr);
  std::vector<uint8_t> picture(kBuffer);
  const int stride = kWidth * 3;
  size_t n = 0;
  for (auto _ : state) {
    auto& f = stream[n++ % kFrames];
    packet->data = f.data();
    packet->size = static_cast<int>(f.size() - AV_INPUT_BUFFER_PADDING_SIZE);
    avcodec_send_packet(c, packet);
    if (avcodec_receive_frame(c, frame) == 0) {
      uint8_t* dst[4] = {picture.data() + static_cast<size_t>(stride) * (kHeight - 1), nullptr, nullptr, nullptr};
      const int strides[4] = {-stride, 0, 0, 0};
      sws_scale(sws, frame->data, frame->linesize, 0, kHeight, dst, strides);
      av_frame_unref(frame);
    }
  }
  packet->data = nullptr;
  packet->size = 0;
  state.SetItemsProcessed(state.iterations());
  sws_freeContext(sws);
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&c);
}

}  // namespace

// One bottom-up 352 x 288 picture to 4:2:0 planes, by the encoder's conversion and by libswscale.
void BM_BgrToYuv420(benchmark::State& state) {
  const std::vector<uint8_t>& picture = Pictures()[0];
  std::vector<uint8_t> yuv(kWidth * kHeight * 3 / 2);
  const int stride = kWidth * 3;
  for (auto _ : state) {
    BgrToYuv420(picture.data() + static_cast<size_t>(stride) * (kHeight - 1), -stride, kWidth, kHeight,
                TYuvPlanes{yuv.data(), yuv.data() + kWidth * kHeight, yuv.data() + kWidth * kHeight * 5 / 4, kWidth,
                           kWidth / 2, kWidth / 2});
    benchmark::DoNotOptimize(yuv.data());
  }
}

void BM_SwscaleBgrToYuv420(benchmark::State& state) {
  const std::vector<uint8_t>& picture = Pictures()[0];
  std::vector<uint8_t> yuv(kWidth * kHeight * 3 / 2);
  SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight, AV_PIX_FMT_YUV420P,
                                   SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
  const int stride = kWidth * 3;
  const uint8_t* src[4] = {picture.data() + static_cast<size_t>(stride) * (kHeight - 1), nullptr, nullptr, nullptr};
  const int srcStrides[4] = {-stride, 0, 0, 0};
  uint8_t* dst[4] = {yuv.data(), yuv.data() + kWidth * kHeight, yuv.data() + kWidth * kHeight * 5 / 4, nullptr};
  const int dstStrides[4] = {kWidth, kWidth / 2, kWidth / 2, 0};
  for (auto _ : state) {
    sws_scale(sws, src, srcStrides, 0, kHeight, dst, dstStrides);
    benchmark::DoNotOptimize(yuv.data());
  }
  sws_freeContext(sws);
}

BENCHMARK(BM_ICCompress)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_BareEncode)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_ICDecompress)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_BareDecode)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_BgrToYuv420)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SwscaleBgrToYuv420)->Unit(benchmark::kMicrosecond);
