// The compression manager (vfw/compman.h): the table of installed codecs, the handle table, and the calls
// that turn into codec messages.
//
// Handles are numbers that are never reused, looked up in a table, so that a closed or made-up handle fails
// instead of reaching freed memory; a call in progress keeps its instance alive through ICClose.
#include <memory>
#include <mutex>
#include <unordered_map>

#include "divx.h"
#include "paint_stamp.h"
#include "vfw/compman.h"

namespace {

constexpr DWORD kDivx = mmioFOURCC('D', 'I', 'V', 'X');

class TCodecInstance {
 public:
  virtual ~TCodecInstance() = default;
  virtual LRESULT Message(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) = 0;
};

// One handle of the DIVX codec: an encoder and a decoder, each behind its own lock, so that one thread may
// compress while another decompresses or configures.
class TDivxInstance final : public TCodecInstance {
 public:
  explicit TDivxInstance(UINT mode) : FMode(mode) {}

  LRESULT Message(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) override {
    auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(dw1);
    auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(dw2);
    switch (msg) {
      case ICM_COMPRESS_QUERY: {
        if (!Compresses()) return ICERR_UNSUPPORTED;
        std::lock_guard<std::mutex> lock(FEncoderLock);
        return FEncoder.Query(in, out);
      }
      case ICM_COMPRESS_BEGIN: {
        if (!Compresses()) return ICERR_UNSUPPORTED;
        std::lock_guard<std::mutex> lock(FEncoderLock);
        return FEncoder.Begin(in, out);
      }
      case ICM_COMPRESS: {
        if (!Compresses()) return ICERR_UNSUPPORTED;
        auto* ic = reinterpret_cast<const ICCOMPRESS*>(dw1);
        if (!ic || dw2 < sizeof(ICCOMPRESS)) return ICERR_BADPARAM;
        std::lock_guard<std::mutex> lock(FEncoderLock);
        return FEncoder.Compress(*ic);
      }
      case ICM_COMPRESS_END: {
        std::lock_guard<std::mutex> lock(FEncoderLock);
        return FEncoder.End();
      }
      case ICM_DECOMPRESS_QUERY: {
        if (!Decompresses()) return ICERR_UNSUPPORTED;
        std::lock_guard<std::mutex> lock(FDecoderLock);
        return FDecoder.Query(in, out);
      }
      case ICM_DECOMPRESS_BEGIN: {
        if (!Decompresses()) return ICERR_UNSUPPORTED;
        std::lock_guard<std::mutex> lock(FDecoderLock);
        return FDecoder.Begin(in, out);
      }
      case ICM_DECOMPRESS: {
        if (!Decompresses()) return ICERR_UNSUPPORTED;
        auto* ic = reinterpret_cast<const ICDECOMPRESS*>(dw1);
        if (!ic || dw2 < sizeof(ICDECOMPRESS)) return ICERR_BADPARAM;
        std::lock_guard<std::mutex> lock(FDecoderLock);
        return FDecoder.Decompress(*ic);
      }
      case ICM_DECOMPRESS_END: {
        std::lock_guard<std::mutex> lock(FDecoderLock);
        return FDecoder.End();
      }
      case ICM_CONFIGURE:
        // No lock across the dialog: the new settings reach a running encoder between two frames.
        if (dw2 & ICMF_CONFIGURE_QUERY) return ICERR_OK;
        return DivxConfigureDialog(reinterpret_cast<HWND>(dw1)) ? ICERR_OK : ICERR_UNSUPPORTED;
      default:
        return ICERR_UNSUPPORTED;
    }
  }

 private:
  bool Compresses() const { return FMode == ICMODE_COMPRESS || FMode == ICMODE_FASTCOMPRESS; }
  bool Decompresses() const { return FMode != ICMODE_QUERY; }

  const UINT FMode;
  std::mutex FEncoderLock;
  TDivxEncoder FEncoder;
  std::mutex FDecoderLock;
  TDivxDecoder FDecoder;
};

std::mutex gHandleLock;
std::unordered_map<UINT_PTR, std::shared_ptr<TCodecInstance>> gHandles;
UINT_PTR gNextHandle = 1;

std::shared_ptr<TCodecInstance> Find(HIC hic) {
  std::lock_guard<std::mutex> lock(gHandleLock);
  auto it = gHandles.find(reinterpret_cast<UINT_PTR>(hic));
  return it == gHandles.end() ? nullptr : it->second;
}

}  // namespace

extern "C" {

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode) {
  InstallPaintStampDecoder();  // every program opens the codec: its paint log then reads stamps
  if (UpperFourcc(fccType) != UpperFourcc(ICTYPE_VIDEO) || UpperFourcc(fccHandler) != kDivx) return nullptr;
  if (wMode < ICMODE_COMPRESS || wMode > ICMODE_FASTCOMPRESS) return nullptr;
  std::shared_ptr<TCodecInstance> instance = std::make_shared<TDivxInstance>(wMode);
  std::lock_guard<std::mutex> lock(gHandleLock);
  UINT_PTR id = gNextHandle++;
  gHandles.emplace(id, std::move(instance));
  return reinterpret_cast<HIC>(id);
}

LRESULT ICClose(HIC hic) {
  std::shared_ptr<TCodecInstance> instance;
  {
    std::lock_guard<std::mutex> lock(gHandleLock);
    auto it = gHandles.find(reinterpret_cast<UINT_PTR>(hic));
    if (it == gHandles.end()) return ICERR_BADHANDLE;
    instance = std::move(it->second);
    gHandles.erase(it);
  }
  return ICERR_OK;  // the instance goes when the last call still using it returns
}

LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
  std::shared_ptr<TCodecInstance> instance = Find(hic);
  if (!instance) return ICERR_BADHANDLE;
  return instance->Message(msg, dw1, dw2);
}

DWORD ICCompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiOutput, LPVOID lpData, LPBITMAPINFOHEADER lpbiInput,
                 LPVOID lpBits, LPDWORD lpckid, LPDWORD lpdwFlags, LONG lFrameNum, DWORD dwFrameSize,
                 DWORD dwQuality, LPBITMAPINFOHEADER lpbiPrev, LPVOID lpPrev) {
  // The size the caller reads afterwards is the one written here, whatever goes wrong.
  if (lpbiOutput) lpbiOutput->biSizeImage = 0;
  ICCOMPRESS ic{dwFlags, lpbiOutput, lpData,     lpbiInput, lpBits,   lpckid,
                lpdwFlags, lFrameNum, dwFrameSize, dwQuality, lpbiPrev, lpPrev};
  return static_cast<DWORD>(ICSendMessage(hic, ICM_COMPRESS, reinterpret_cast<DWORD_PTR>(&ic), sizeof ic));
}

DWORD ICDecompress(HIC hic, DWORD dwFlags, LPBITMAPINFOHEADER lpbiFormat, LPVOID lpData, LPBITMAPINFOHEADER lpbi,
                   LPVOID lpBits) {
  ICDECOMPRESS ic{dwFlags, lpbiFormat, lpData, lpbi, lpBits, 0};
  return static_cast<DWORD>(ICSendMessage(hic, ICM_DECOMPRESS, reinterpret_cast<DWORD_PTR>(&ic), sizeof ic));
}

}  // extern "C"
