// The paint path of one 352 x 288 frame (SetDIBitsToDevice into a paint box, from the GUI thread and from a
// player thread, and onto a bare form as the receiver paints), the decoding of a panel-sized JPEG, and a list box
// that only grows, as the sender's list of announcements does: 100,000 short lines appended one at a time on a
// shown form, the GUI thread's messages handled after each line as between two announcements, reported as the
// cost of a line (the append and the message turn that follows, layout and paint included) over the first and
// over the last 1,000 lines, and the memory a line takes. Runs on Qt's offscreen platform unless a display is set.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "gui/gui.h"
#include "rtl/formreader.h"

#include <jpeglib.h>

namespace {

struct TFrame {
  BITMAPINFO Info{};
  std::vector<unsigned char> Bits;
  TFrame() {
    Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    Info.bmiHeader.biWidth = 352;
    Info.bmiHeader.biHeight = 288;
    Info.bmiHeader.biPlanes = 1;
    Info.bmiHeader.biBitCount = 24;
    Bits.resize(352 * 288 * 3);
    for (std::size_t i = 0; i < Bits.size(); ++i) Bits[i] = static_cast<unsigned char>(i * 7);
  }
};

TPaintBox* Box() {
  static TPaintBox* box = [] {
    auto* form = new TForm(nullptr);
    ReadComponentText(form, "object F: TForm\n object P: TPaintBox\n Width = 352\n Height = 288\n end\nend\n", "Bench.form");
    form->Show();
    return dynamic_cast<TPaintBox*>(form->FindComponent("P"));
  }();
  return box;
}

// Each frame painted and the repaint it asked for handled before the next.
void PaintFramesOnTheGuiThread(benchmark::State& state, HDC dc) {
  TFrame frame;
  for (auto _ : state) {
    SetDIBitsToDevice(dc, 0, 0, 352, 288, 0, 0, 0, 288, frame.Bits.data(), &frame.Info, DIB_RGB_COLORS);
    Application->ProcessMessages();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PaintFrameOnTheGuiThread(benchmark::State& state) {
  PaintFramesOnTheGuiThread(state, Box()->Canvas()->Handle());
}
BENCHMARK(BM_PaintFrameOnTheGuiThread);

// The receiver's way: each frame straight onto a bare form of the frame's size, repainted before the next.
TForm* FrameForm() {
  static TForm* form = [] {
    auto* f = new TForm(nullptr);
    ReadComponentText(f, "object R: TForm\n ClientWidth = 352\n ClientHeight = 288\nend\n", "BenchFrame.form");
    f->Show();
    return f;
  }();
  return form;
}

void BM_PaintFrameOntoAForm(benchmark::State& state) {
  PaintFramesOnTheGuiThread(state, FrameForm()->Canvas()->Handle());
}
BENCHMARK(BM_PaintFrameOntoAForm);

// What a player thread pays per frame: the copy into the surface and a posted repaint, never a wait.
void BM_PaintFrameFromAnotherThread(benchmark::State& state) {
  TFrame frame;
  HDC dc = Box()->Canvas()->Handle();
  for (auto _ : state) {
    std::thread t([&] {
      for (int i = 0; i < 25; ++i)
        SetDIBitsToDevice(dc, 0, 0, 352, 288, 0, 0, 0, 288, frame.Bits.data(), &frame.Info, DIB_RGB_COLORS);
    });
    t.join();
    Application->ProcessMessages();
  }
  state.SetItemsProcessed(state.iterations() * 25);
}
BENCHMARK(BM_PaintFrameFromAnotherThread);

std::string PanelJpeg() {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = 527;
  cinfo.image_height = 314;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 85, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(527 * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (std::size_t x = 0; x < row.size(); ++x) row[x] = static_cast<unsigned char>(x + cinfo.next_scanline);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string data(reinterpret_cast<char*>(out), size);
  free(out);
  return data;
}

void BM_DecodePanelJpeg(benchmark::State& state) {
  const std::string data = PanelJpeg();
  for (auto _ : state) {
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(data);
    benchmark::DoNotOptimize(jpeg.Width());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_DecodePanelJpeg);

using Clock = std::chrono::steady_clock;

// The sender's list box, on a form of its own.
TListBox* List() {
  static TListBox* list = [] {
    auto* form = new TForm(nullptr);
    ReadComponentText(form,
                      "object F: TForm\n Width = 300\n Height = 200\n"
                      " object L: TListBox\n Left = 8\n Top = 24\n Width = 121\n Height = 73\n"
                      " BorderStyle = bsNone\n ItemHeight = 13\n end\nend\n",
                      "BenchList.form");
    form->Show();
    return dynamic_cast<TListBox*>(form->FindComponent("L"));
  }();
  return list;
}

long RssKb() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

// A line as the sender writes them: time, direction and an address.
std::string Line(int i) {
  char text[64];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d  in: 10.77.%d.%d", i / 3600 % 24, i / 60 % 60, i % 60,
                i / 256 % 256, i % 256);
  return text;
}

void BM_ListBoxAppend(benchmark::State& state) {
  const int lines = static_cast<int>(state.range(0));
  const int window = 1000;
  TListBox* list = List();
  for (auto _ : state) {
    list->Items()->Clear();
    Application->ProcessMessages();
    malloc_trim(0);
    const long rssBefore = RssKb();
    double firstUs = 0, lastUs = 0;
    for (int i = 0; i < lines; ++i) {
      const auto t0 = Clock::now();
      list->Items()->Add(Line(i));
      Application->ProcessMessages();
      const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
      if (i < window) firstUs += us;
      if (i >= lines - window) lastUs += us;
    }
    state.counters["first_us_per_line"] = firstUs / window;
    state.counters["last_us_per_line"] = lastUs / window;
    state.counters["bytes_per_line"] = static_cast<double>(RssKb() - rssBefore) * 1024.0 / lines;
  }
}
BENCHMARK(BM_ListBoxAppend)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  Application->Initialize(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}
