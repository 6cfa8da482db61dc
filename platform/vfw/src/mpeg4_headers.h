// The stream headers in front of an MPEG-4 Part 2 picture, read and judged before a frame reaches libavcodec:
// the DIVX decompressor decodes only streams of the kind its encoder makes (simple profile, rectangular
// pictures of the size the caller began with), so that a frame from anyone on the network cannot make libavcodec
// allocate for another size or switch to another profile's decoding. Internal to platform/vfw (divx.cpp); the
// fuzz targets call it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct TMpeg4StreamHeaders {
  bool Acceptable = false;  // false: the frame names another stream kind or size, or its headers are cut short
  bool HasLayer = false;    // the frame carries a video object layer header: it (re)starts a stream
  // The units in front of the picture that set a decoder's state (visual object sequence, visual object, video
  // object, layer, user data), byte for byte; the group-of-pictures header, whose time code moves with every key
  // frame, is left out. Two key frames of one stream carry the same bytes here.
  std::vector<uint8_t> State;
};

// Reads the start-coded units of data[0, picture), where picture is the offset of the picture's start code
// (see DivxFrameLength), for a decoder of width x height pixels.
TMpeg4StreamHeaders ReadMpeg4StreamHeaders(const uint8_t* data, size_t picture, int width, int height);
