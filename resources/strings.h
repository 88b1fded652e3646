// The string table: the texts of the progress window's message boxes and of
// its bar while there is no percentage to show, and the caption every
// message box carries.
#ifndef VELMORA_RESOURCES_STRINGS_H_
#define VELMORA_RESOURCES_STRINGS_H_

constexpr char kMessageCaption[] = "Velmora";

constexpr int IDS_STOP_QUESTION = 1;
constexpr int IDS_NOT_COMPLETE = 2;
constexpr int IDS_COMPLETE = 3;
constexpr int IDS_LOOKING = 4;
constexpr int IDS_STOPPING = 5;

// The text of string `id` (1 to 5), or an empty text.
constexpr const char* LoadString(int id) {
  switch (id) {
    case IDS_STOP_QUESTION:
      return "Do you want to stop updating?";
    case IDS_NOT_COMPLETE:
      return "Update not complete!";
    case IDS_COMPLETE:
      return "Update complete!";
    case IDS_LOOKING:
      return "Looking for the receiver...";
    case IDS_STOPPING:
      return "Stopping...";
    default:
      return "";
  }
}

#endif  // VELMORA_RESOURCES_STRINGS_H_
