// An emulated V4L2 camera for tests: emulated_camera.cpp answers the kernel's V4L2 calls (open, ioctl, poll,
// close, and the same through syscall()) for one device path of its own, so that the capture driver's webcam
// path runs without a camera, a kernel module or root. It is either preloaded into a program (LD_PRELOAD of
// libtarvo_emulated_camera.so) or linked into a test program that exports its symbols, so that its functions
// stand in for the C library's in every library of the process.
//
// What the camera is, read at each open of the path:
//   TARVO_EMULATED_CAMERA        the device path caught (default "/dev/tarvo-emulated-camera")
//   TARVO_EMULATED_CAMERA_KIND   yuyv (YUYV 640 x 480 and 320 x 240), mjpeg (MJPEG 1280 x 720), mjpeg-nodht (the
//                                same, its frames without Huffman tables), webcam (YUYV and MJPEG, 19 sizes
//                                each), bgr (BGR24 640 x 480); default yuyv
//   TARVO_EMULATED_CAMERA_FPS    frames a second, default 30
//   TARVO_EMULATED_CAMERA_FAULT  stall (no frame any more), eio (DQBUF fails with EIO, the buffer stays queued),
//                                eio-lost (DQBUF takes the buffer and still fails with EIO), flagged (buffers
//                                marked V4L2_BUF_FLAG_ERROR, magenta inside), short (half the bytes new), unplug (the
//                                device goes: ENODEV, POLLERR, and the path no longer opens); default none
//   TARVO_EMULATED_CAMERA_AFTER  frames of each streaming run before the fault starts, default 10; stall and
//                                unplug then hold, the others hit every second frame
//
// The picture: four flat quadrants (red top left, green top right, blue bottom left, white bottom right) and
// across the middle a band of ten blocks, white for 1 and black for 0, that spells the frame's sequence number
// (lowest bit on the left) over the middle half of the width, between 42 % and 58 % of the height.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// The format of the camera that streamed last: width, height and fourcc; 0 before any.
int EmulatedCameraFormat(uint32_t* width, uint32_t* height, uint32_t* fourcc);
// Frames the camera could not deliver because no buffer was queued, since the last reset.
uint32_t EmulatedCameraDropped(void);
// Forgets an unplug and the counts, as if the camera were plugged in anew.
void EmulatedCameraReset(void);

#ifdef __cplusplus
}
#endif

// The band's geometry, shared with the tests that read it back.
#define EMULATED_CAMERA_BITS 10
#define EMULATED_CAMERA_BAND_LEFT 0.25
#define EMULATED_CAMERA_BIT_WIDTH 0.05
#define EMULATED_CAMERA_BAND_TOP 0.42
#define EMULATED_CAMERA_BAND_BOTTOM 0.58
