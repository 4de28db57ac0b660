#pragma once

// The program's version block.
struct VersionBlock {
  const char* companyName;
  const char* fileDescription;
  const char* fileVersion;
  const char* internalName;
  const char* originalFilename;
  const char* productName;
  const char* productVersion;
  unsigned short language;  // US English
  unsigned short codePage;
};

inline constexpr VersionBlock kVersion{
    "Brenvo", "FireWall", "4.0.3.0", "firewall.exe", "Brenvo.exe", "Brenvo", "4.0.3.0", 0x0409, 1252,
};
