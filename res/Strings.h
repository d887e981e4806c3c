#pragma once

// Every text the program shows, exactly as users of the update tool know them.

#include <QString>

namespace movrin::text {

// The texts are UTF-8 (the About item is Chinese).
inline QString Utf8(const char* s) {
  return QString::fromUtf8(s);
}

// Main window
inline constexpr char kWindowCaption[] = "Movrin Update";
inline constexpr char kSend[] = "Send";
inline constexpr char kRefresh[] = "Refresh";
inline constexpr char kHelp[] = "Help";
inline constexpr char kAbout[] = "About";
inline constexpr char kMidiDevices[] = "Midi Devices";
inline constexpr char kMidiOut[] = "Midi Out";
inline constexpr char kMidiIn[] = "Midi In";
inline constexpr char kStatusTemplate[] = "Static";
inline constexpr char kProgressTemplate[] = "Progress1";
inline constexpr char kStatusPrompt[] = "Enter the 'Send' button, the file will be send!";
inline constexpr char kAboutItem[] = "关于 Fenwor Update(&A)...";

// About box
inline constexpr char kAboutCaption[] = "About Movrin Update";
inline constexpr char kAboutVersion[] = "Movrin Update v1.0 beta ";
inline constexpr char kAboutSecondLine[] = "MIDI firmware updater";
inline constexpr char kOk[] = "OK";

// Folders, relative to the current directory
inline constexpr char kDataFolder[] = "Movrin Update/bin/";
inline constexpr char kImagePattern[] = "*.bin";
inline constexpr char kHelpFolder[] = "Movrin Update/";
inline constexpr char kHelpFile[] = "help.chm";

// Image list and loader
// The empty list's placeholder, with the data folder's full path for %1.
inline constexpr char kEmptyImageList[] = "No images yet: put .bin files in %1";
inline constexpr char kTooManyFiles[] = "The file name is excess!";
inline constexpr char kNoFileSelected[] = "Please check the updata file!";
inline constexpr char kNoFileSelectedCaption[] = "Fenwor Update";
inline constexpr char kMustBeBin[] = "The File Must be *.bin!";
inline constexpr char kMustBeBinCaption[] = "Fenwor Updata";
inline constexpr char kCannotOpen[] =
    "The file can't be opened,please Select Right Download File, try again!";
inline constexpr char kConfirmSend[] = "This file will be sent to midi device. Are you sure? ";
inline constexpr char kConfirmCaption[] = "Lisket Brain";

// Ports and transfer
inline constexpr char kNoInputDevices[] = "There are no MIDI input devices!";
inline constexpr char kNoOutputDevices[] = "There are no MIDI output devices!";
inline constexpr char kLongMessageFailed[] = "Send the longMSG is err!";
inline constexpr char kAnnounceCaption[] = "Fenwor Updata";
inline constexpr char kBlockCaption[] = "Lisket Updata";

// Texts of the safeguards around a transfer. %1 and %2 are filled in at run time.
inline constexpr char kDefaultOutput[] = "Default (%1)";
inline constexpr char kTransferStopped[] =
    "Transfer failed after %1 of %2 blocks; press Send to retry.";
// Closing in the middle of a transfer can leave the device without a working firmware.
inline constexpr char kAbandonQuestion[] =
    "A transfer is running. Closing now stops it, and the device is left with an incomplete "
    "firmware image.\nAbandon the transfer and close?";
// A device that stays silent is named, not waited for in silence. %1 is the Midi In port.
inline constexpr char kSilentDevice[] =
    "No answer from the device on %1 yet. Check that Midi Out reaches the device and Midi In is "
    "the port it answers on.";
inline constexpr char kXrunsSinceAnnounce[] =
    "The MIDI system fell behind %1 time(s) since the announce: MIDI may have been lost.";
// What a line shows of kSilentDevice; the whole text is its tooltip.
inline constexpr char kSilentDeviceShort[] = "No answer on %1 yet: check Midi Out and Midi In.";
// The hint strip's news, each short enough for its one line; %3 of kPortWentAway is the port.
// %1 of kNoMidiSystem says which systems were tried.
inline constexpr char kNoMidiSystem[] = "No MIDI system answered (%1).";
inline constexpr char kPortWentAway[] = "%3 went away after block %1 of %2: reconnect the device.";
inline constexpr char kTransferComplete[] = "Transfer complete: %1 in %2 s.";
inline constexpr char kOneBlock[] = "1 block";
inline constexpr char kBlocks[] = "%1 blocks";

}  // namespace movrin::text
