// The player thread's loop: one position per record, paced by the recorded delays.
#include "PlayThread.h"

#include "CaptureFile.h"
#include "Unit1.h"
#include "win32/win32.h"

std::int32_t PlayWait(std::uint16_t delay, std::uint32_t t0, std::uint32_t now) {
  const auto wait = static_cast<std::int32_t>(static_cast<std::uint32_t>(delay) + t0 - now);
  return wait > kMaxPlayWaitMs ? kMaxPlayWaitMs : wait;
}

void TPlayThread::Execute() {
  TForm1* form = Form1;
  TFileStream* stream = form->PlayStream;
  const std::uint32_t count = form->PlayFrameCount;
  const std::string ofCount = "/" + IntToStr(count);
  const HDC dc = form->PaintBox1->Canvas()->Handle();

  std::uint32_t i = 0;
  std::uint32_t S = 0;
  std::uint16_t delay = 0;
  bool anyRecord = false;
  while (Running.load() && stream) {
    ++i;
    // The count says how many frames were delivered, so position `count` is the last one to show; past it the
    // loop ends before anything more is read or the label moves on.
    if (i > count) break;

    // Past the end of the file the reads bring nothing new: the last picture stays and its delay is waited
    // again, until the count is reached. A record cut short (or empty) is not decoded: the codec would take what
    // the buffer still holds of older frames for it.
    const TRecordRead read = ReadFrameRecord(*stream, form->PlayInFrame, S, delay);
    // A size no writer can produce: the file is damaged here and nothing after it can be trusted.
    if (read == TRecordRead::Damaged) break;
    if (read == TRecordRead::End && !anyRecord) break;  // not one record in the file: there is nothing to show
    anyRecord = anyRecord || read != TRecordRead::End;
    const bool whole = read == TRecordRead::Whole;
    // Only a position that is shown moves the label on.
    form->PlayLabel->SetCaption(IntToStr(i) + ofCount);

    const std::uint32_t t0 = GetTickCount();
    if (whole)
      ICDecompress(form->Codec, 0, &form->DecInFormat.bmiHeader, form->PlayInFrame, &form->DecOutFormat.bmiHeader,
                   form->PlayOutFrame);
    SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(form->FrameWidth), static_cast<DWORD>(form->FrameHeight), 0, 0,
                      0, static_cast<UINT>(form->FrameHeight), form->PlayOutFrame, &form->DecOutFormat,
                      DIB_RGB_COLORS);
    const std::int32_t wait = PlayWait(delay, t0, GetTickCount());
    if (wait > 0) Sleep(static_cast<DWORD>(wait));
  }
}
