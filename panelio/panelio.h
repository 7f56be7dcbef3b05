#pragma once
// The exports of libpanelio.so and panelio.dll: plain functions with the names and arguments the
// service and the program have always called. Integers are 32-bit, strings UTF-16 ending in a NUL.
// Functions answer a truth value or a status code (0 success, top bit set failure) as each comment
// says.

#include <cstdint>

#include "common/drive_record.h"

#if defined(_WIN32) && defined(PANELIO_BUILD_DLL)
#define PANELIO_API __declspec(dllexport)
#elif defined(_WIN32)
// Linked statically into the service and the tools, or called through panelio.dll's import library.
#define PANELIO_API
#else
#define PANELIO_API __attribute__((visibility("default")))
#endif

// Status codes.
inline constexpr std::uint32_t kPanelOk = 0;
inline constexpr std::uint32_t kPanelBadHandle = 0x80000001;          // bad handle or buffer
inline constexpr std::uint32_t kPanelDriveNotOpened = 0x8000000C;
inline constexpr std::uint32_t kPanelLineRefused = 0x8000000D;
inline constexpr std::uint32_t kPanelPassThroughFailed = 0x8000000E;
inline constexpr std::uint32_t kPanelIdQueryFailed = 0x81000007;      // READ BUFFER 0x55
inline constexpr std::uint32_t kPanelStateQueryFailed = 0x81000008;   // READ BUFFER 0x51
inline constexpr std::uint32_t kPanelWordQueryFailed = 0x81000010;    // READ BUFFER 0xE4
inline constexpr std::uint32_t kPanelStopRefused = 0x82000008;

inline constexpr int kLineRecordCount = 96;
inline constexpr int kLineRecordSlot = 64;  // one line record and 48 zero bytes

extern "C" {

// Number of HID panel controllers (vendor 0x3E5B, product 0x1110) present.
PANELIO_API std::int32_t GetHidLcdCount(void);

// Fills *info for drive driveNumber (info->hidPath is read first as the last known panel path).
// 1 when a memory LCD belongs to the drive (also with connectionState 8), else 0.
PANELIO_API std::int32_t GetLcdInfo(std::int32_t driveNumber, kuv::DriveRecord* info);

// Sends 96 line records (96 consecutive 64-byte slots) to the bridge panel of the drive (low
// byte of driveNumber). 0 when all were accepted; 0x8000000C drive not opened; 0x8000000D at the
// first refused line, the lines after it not sent.
PANELIO_API std::uint32_t LcdSendLineData(std::int32_t driveNumber, const std::uint8_t* lineRecords);

// Sends the vendor stop command to the drive's bridge panel. 0 accepted; 0x82000008 otherwise.
PANELIO_API std::uint32_t StopLcdTimer(std::int32_t driveNumber);

// Reads the S.M.A.R.T. threshold and data sectors (512 bytes each) and the serial number (21
// units) of the drive. 1 when S.M.A.R.T. is supported and was read; buffers of a failed read are
// left untouched.
PANELIO_API std::int32_t GetSmartInfo(std::int32_t driveNumber, std::uint8_t* thresholds,
                                      std::uint8_t* data, char16_t* serial);

// Adds the SATA filter to the upper-filter lists of Silicon Image adapters. 1 when a list was
// written.
PANELIO_API std::int32_t AddFilterSilHost(void);

// add 1: as AddFilterSilHost; add 0: removes the filter from those lists. 1 when a list was
// written.
PANELIO_API std::int32_t ModifyFilterSilHost(std::int32_t add);

// The drive's filter state: 4 not on a Silicon Image host, 5 on one with the filter, 6 without.
PANELIO_API std::uint32_t DoesExistSATAFilter(std::uint32_t driveNumber);

// Reads the drive's second sector (the one whose read an HID panel reports). Nonzero when read.
PANELIO_API std::int32_t ReadSector0(std::uint32_t driveNumber);

// Clears *info, then fills driveNumber, connectionState 0, fileSystemType, totalSectors and
// freeSectors from the drive's partition table and file-system structures. 1 when the drive
// opened.
PANELIO_API std::int32_t GetSizeFromSector(std::int32_t driveNumber, kuv::DriveRecord* info);

// Creates the folder and marks it hidden. Nonzero on success.
PANELIO_API std::int32_t LcdCreateDirectory(const char16_t* path);

// Appends length bytes of data to the file at path, creating it. Nonzero on success.
PANELIO_API std::int32_t LcdWriteFile(const char16_t* path, const std::uint8_t* data,
                                      std::uint32_t length);

// Deletes the file. 1 deleted, -1 not deleted, 0x80000001 for a null path.
PANELIO_API std::int32_t LcdDeleteFile(const char16_t* path);

// Low byte 1: registers the program for automatic start; anything else removes it. 0 on success,
// else the system's error code.
PANELIO_API std::int32_t SetAutorun(std::int32_t on);

}  // extern "C"
