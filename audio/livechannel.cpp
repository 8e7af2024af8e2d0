#define VLM_UNIT "recog"
// The live channel: a WavChannel fed by the recording device of the audio layer (waveio). It is
// kept apart from the other channels so that programs that only read files do not link the
// device layer (PortAudio and the sound libraries under it).
#include <unistd.h>

#include "audio/channel.h"
#include "audio/waveio.h"
#include "platform/audio/audiodevice.h"
#include "platform/msgbox.h"

namespace vlm {

// ---- LiveWavChannel -------------------------------------------------------------------------

int LiveWavChannel::halfDuplex = 0;

LiveWavChannel::~LiveWavChannel() {
  if (isListening()) {
    if (waveIoIsMicOn()) waveIoMicOff();
    stopListening();
  }
}

int LiveWavChannel::open(const char* path) {
  waveIoOpen();
  return WavChannel::open(path);
}

void LiveWavChannel::close() {
  WavChannel::close();
  waveIoClose();
}

int LiveWavChannel::listen(int on, const WaveFormat* format) {
  if (!isOpen()) return 0;
  if ((on != 0) == (isListening() != 0)) return on;
  if (!on) {
    waveIoMicOff();
    stopListening();
    return 0;
  }
  listenFormat = format ? *format : kDefaultWaveFormat;
  if (waveIoMicOn(deviceId, &listenFormat) == eWaveIoOk) {
    flags |= LISTENING;
    return 1;
  }
  if (waveIoIsMicOn()) waveIoMicOff();
  stopListening();
  return 0;
}

int LiveWavChannel::getWAVCHUNKshorts(short* buffer) {
  const int rc = waveIoGetWAVCHUNKshorts(buffer);
  // The file-backed input device ends: its end is the end of input, as for a file.
  if (rc == eWaveIoNoBuffer && waveIoMicInputEnded()) return -3;
  return rc;
}

int LiveWavChannel::beep(const char* path, int flagsIn) {
  if (!path) return 0;
  flagsIn |= halfDuplex;
  if ((flagsIn & kHalfDuplex) && isListening()) {
    // Half duplex: the input device is closed while the sound plays.
    const WaveFormat format = listenFormat;
    listen(0, nullptr);
    waveIoBeep(path, flagsIn, deviceId);
    ::usleep(10000);
    listen(1, &format);
    return 1;
  }
  const int rc = waveIoBeep(path, flagsIn, deviceId);
  if (rc == eWaveIoOpenFailed) {
    if (!halfDuplex)
      halfDuplex = kHalfDuplex;   // the device may be busy recording: play half duplex from now on
    else
      messageBox("Failed to open waveform output device.", kMsgDeviceError, eBoxOk, eIconWarning, eAnswerOk);
  }
  return rc == eWaveIoOk ? 1 : 0;
}

}  // namespace vlm
