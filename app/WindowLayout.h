// The window's fixed design: its place and size, and each control's start text, start
// visibility and geometry (left, top, width, height in pixels of the client area), in the
// order the window declares them.
#pragma once

#include <string_view>

inline constexpr const char* WindowCaption = "Brisal v2.3";
inline constexpr const char* ApplicationTitle = "Brisal";
// The designed size, 918 x 694, is the outer size of the window, frame included. Qt sizes the
// client area, so the frame of the design (4-pixel borders, a 26-pixel caption) is taken off;
// that keeps the two stores of the design (at top 664 and 784) below the client area.
inline constexpr int WindowLeft = 515;
inline constexpr int WindowTop = 150;
inline constexpr int WindowClientWidth = 918 - 2 * 4;
inline constexpr int WindowClientHeight = 694 - 26 - 2 * 4;
inline constexpr int WindowFontPixels = 11; // "MS Sans Serif", height -11 at 96 dpi
inline constexpr int Timer1Interval = 1000;
inline constexpr int RichEdit1TabOrder = 5;

struct TControlLayout {
    const char* Name;
    const char* Text;
    bool Shown;
    int Left, Top, Width, Height;
};

// The connect layout, as the window opens.
inline constexpr TControlLayout ControlLayouts[] = {
    {"Label1", "Status", true, 8, 616, 30, 13},
    {"Button_connect", "Connect", true, 480, 312, 75, 25},
    {"Button_join", "Join Channel", false, 293, 360, 75, 25},
    {"Edit1", "", false, 8, 592, 873, 21},
    {"Button_clrlogs", "Clear Logs", true, 6, 8, 75, 25},
    {"ch_autoscroll", "Autoscroll", true, 680, 0, 97, 17},
    {"RichEdit1", "", false, 16, 40, 737, 545},
    {"ed_nick", "Brisal", true, 432, 232, 169, 21},
    // A large public network that still accepts plain connections on 6667.
    {"ed_serv", "irc.libera.chat", true, 432, 256, 169, 21},
    {"ed_port", "6667", true, 432, 280, 169, 21},
    {"Label2", "Nickname", true, 382, 236, 48, 13},
    {"Label3", "Server", true, 398, 261, 31, 13},
    {"Label4", "Port", true, 410, 283, 19, 13},
    {"Label5", "Channel", false, 382, 363, 39, 13},
    {"ed_channel", "#velmor", false, 424, 360, 169, 21},
    {"RichEdit3", "", true, 88, 8, 577, 25},
    {"ListBox2", "", true, 760, 40, 121, 545},
    {"CheckBox1", "Backwards Write (for TALO output)", true, 680, 16, 201, 17},
    {"Memo1", "", true, 16, 400, 729, 153},
};

consteval const TControlLayout& Control(std::string_view AName) {
    for (const TControlLayout& layout : ControlLayouts) {
        if (AName == layout.Name) {
            return layout;
        }
    }
    throw "no such control"; // a compile-time error
}

// The floodgate notice of Memo1, line for line (some lines end in a blank, as designed).
inline constexpr const char* Memo1Text =
    "Warning.\n"
    "If the program keeps responding with '!!!FLOODGATE!!!', the Floodgate has been activaed "
    "for that line, preventing it from being transmitted to the IRC \n"
    "channel.\n"
    "The floodgate is activated when both the line you're trying to transmit is equal to the "
    "previous one, and the time between both lines is a second or less.\n"
    "The floodgate has been designed to combat situations where Orbel's file becomes blocked "
    "(can't be deleted), and thus causes you to flood the channel \n"
    "with the same line over and over again.\n"
    "The floodgate automatically deactivates itself.\n"
    "\n"
    "If the floodgate is being activated without you accidentally trying to say the same thing "
    "twice rapidly, something is wrong (tm). You might want to try telling \n"
    "us about it, if you want Brisal to be improved.\n"
    "\n"
    "VISTA USERS:\n"
    "The floodgate might be activated if either Velmor (the windows port) or Brisal isn't being "
    "ran with Windows XP compatibility mode (we're not sure \n"
    "which needs to be put into compatibility mode, as of yet).";
