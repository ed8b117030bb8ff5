// Windows constants used by the portable core. The names avoid the macros of
// <windows.h> so that the Win32 layer can include both.
#pragma once

#include <cstdint>

namespace wc {

// Predefined root keys, as 32-bit HKEY constants.
inline constexpr std::uint32_t HkeyClassesRoot = 0x80000000u;
inline constexpr std::uint32_t HkeyCurrentUser = 0x80000001u;
inline constexpr std::uint32_t HkeyLocalMachine = 0x80000002u;
inline constexpr std::uint32_t HkeyUsers = 0x80000003u;
inline constexpr std::uint32_t HkeyPerformanceData = 0x80000004u;
inline constexpr std::uint32_t HkeyCurrentConfig = 0x80000005u;
inline constexpr std::uint32_t HkeyDynData = 0x80000006u;

// Status codes as Windows returns them.
inline constexpr long ErrorSuccess = 0;
inline constexpr long ErrorInvalidFunction = 1;
inline constexpr long ErrorFileNotFound = 2;
inline constexpr long ErrorPathNotFound = 3;
inline constexpr long ErrorAccessDenied = 5;
inline constexpr long ErrorInvalidHandle = 6;
inline constexpr long ErrorNotEnoughMemory = 8;
inline constexpr long ErrorNotReady = 21;
inline constexpr long ErrorWriteFault = 29;
inline constexpr long ErrorSharingViolation = 32;
inline constexpr long ErrorFileExists = 80;
inline constexpr long ErrorInvalidParameter = 87;
inline constexpr long ErrorDiskFull = 112;
inline constexpr long ErrorCallNotImplemented = 120;
inline constexpr long ErrorInsufficientBuffer = 122;
inline constexpr long ErrorInvalidName = 123;
inline constexpr long ErrorDirNotEmpty = 145;
inline constexpr long ErrorAlreadyExists = 183;
inline constexpr long ErrorMoreData = 234;
inline constexpr long ErrorNoMoreItems = 259;
inline constexpr long ErrorBadPathname = 161;
inline constexpr long ErrorNoToken = 1008;
inline constexpr long ErrorBadDbFormat = 1009; // ERROR_BADDB
inline constexpr long ErrorBadKey = 1010;
inline constexpr long ErrorCantOpen = 1011;
inline constexpr long ErrorCantRead = 1012;
inline constexpr long ErrorCantWrite = 1013;
inline constexpr long ErrorNotRegistryFile = 1017; // a hive file that is no hive
inline constexpr long ErrorKeyDeleted = 1018;
inline constexpr long ErrorChildMustBeVolatile = 1021;
inline constexpr long ErrorNotAllAssigned = 1300;
inline constexpr long ErrorNoSuchPrivilege = 1313;
inline constexpr long ErrorPrivilegeNotHeld = 1314;
inline constexpr long ErrorInvalidOwner = 1307;

// RegNotifyChangeKeyValue filter bits.
inline constexpr std::uint32_t RegNotifyChangeName = 0x1;
inline constexpr std::uint32_t RegNotifyChangeAttributes = 0x2;
inline constexpr std::uint32_t RegNotifyChangeLastSet = 0x4;
inline constexpr std::uint32_t RegNotifyChangeSecurity = 0x8;

// SECURITY_INFORMATION bits of Get/SetKeySecurity.
inline constexpr std::uint32_t OwnerSecurityInformation = 0x1;
inline constexpr std::uint32_t DaclSecurityInformation = 0x4;

// Value types.
inline constexpr std::uint32_t RegNone = 0;
inline constexpr std::uint32_t RegSz = 1;
inline constexpr std::uint32_t RegExpandSz = 2;
inline constexpr std::uint32_t RegBinary = 3;
inline constexpr std::uint32_t RegDword = 4;
inline constexpr std::uint32_t RegDwordBigEndian = 5;
inline constexpr std::uint32_t RegLink = 6;
inline constexpr std::uint32_t RegMultiSz = 7;
inline constexpr std::uint32_t RegResourceList = 8;
inline constexpr std::uint32_t RegFullResourceDescriptor = 9;
inline constexpr std::uint32_t RegResourceRequirementsList = 10;
inline constexpr std::uint32_t RegQword = 11;

// Registry access rights and view bits.
inline constexpr std::uint32_t KeyQueryValue = 0x0001;
inline constexpr std::uint32_t KeySetValue = 0x0002;
inline constexpr std::uint32_t KeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t KeyEnumerateSubKeys = 0x0008;
inline constexpr std::uint32_t KeyNotify = 0x0010;
inline constexpr std::uint32_t KeyCreateLink = 0x0020;
inline constexpr std::uint32_t KeyWow64_64Key = 0x0100;
inline constexpr std::uint32_t KeyWow64_32Key = 0x0200;
inline constexpr std::uint32_t KeyWow64Res = 0x0300;
inline constexpr std::uint32_t Delete = 0x00010000;
inline constexpr std::uint32_t ReadControl = 0x00020000;
inline constexpr std::uint32_t WriteDac = 0x00040000;
inline constexpr std::uint32_t WriteOwner = 0x00080000;
inline constexpr std::uint32_t KeyRead = 0x20019;
inline constexpr std::uint32_t KeyWrite = 0x20006;
inline constexpr std::uint32_t KeyAllAccess = 0xF003F;

// Disposition of a created key.
inline constexpr std::uint32_t RegCreatedNewKey = 1;
inline constexpr std::uint32_t RegOpenedExistingKey = 2;

// File attributes.
inline constexpr std::uint32_t FileAttributeReadOnly = 0x01;
inline constexpr std::uint32_t FileAttributeHidden = 0x02;
inline constexpr std::uint32_t FileAttributeSystem = 0x04;
inline constexpr std::uint32_t FileAttributeVolume = 0x08;
inline constexpr std::uint32_t FileAttributeDirectory = 0x10;
inline constexpr std::uint32_t FileAttributeArchive = 0x20;
inline constexpr std::uint32_t FileAttributeNormal = 0x80;
inline constexpr std::uint32_t InvalidFileAttributes = 0xFFFFFFFFu;

// Drive types (GetDriveType).
inline constexpr std::uint32_t DriveUnknown = 0;
inline constexpr std::uint32_t DriveNoRootDir = 1;
inline constexpr std::uint32_t DriveRemovable = 2;
inline constexpr std::uint32_t DriveFixed = 3;
inline constexpr std::uint32_t DriveRemote = 4;
inline constexpr std::uint32_t DriveCdrom = 5;
inline constexpr std::uint32_t DriveRamdisk = 6;

// Special folders (CSIDL).
inline constexpr int CsidlDesktop = 0x0000;
inline constexpr int CsidlPrograms = 0x0002;
inline constexpr int CsidlPersonal = 0x0005;
inline constexpr int CsidlStartup = 0x0007;
inline constexpr int CsidlRecent = 0x0008;
inline constexpr int CsidlStartMenu = 0x000B;
inline constexpr int CsidlDesktopDirectory = 0x0010;
inline constexpr int CsidlFonts = 0x0014;
inline constexpr int CsidlCommonStartMenu = 0x0016;
inline constexpr int CsidlCommonPrograms = 0x0017;
inline constexpr int CsidlCommonStartup = 0x0018;
inline constexpr int CsidlCommonDesktopDirectory = 0x0019;
inline constexpr int CsidlAppData = 0x001A;
inline constexpr int CsidlLocalAppData = 0x001C;
inline constexpr int CsidlInternetCache = 0x0020;
inline constexpr int CsidlCookies = 0x0021;
inline constexpr int CsidlHistory = 0x0022;
inline constexpr int CsidlCommonAppData = 0x0023;
inline constexpr int CsidlWindows = 0x0024;
inline constexpr int CsidlSystem = 0x0025;
inline constexpr int CsidlProgramFiles = 0x0026;
inline constexpr int CsidlProgramFilesCommon = 0x002B;
inline constexpr int CsidlFlagCreate = 0x8000;

// OSVERSIONINFO platform of the Windows NT line.
inline constexpr std::uint32_t VerPlatformWin32Nt = 2;

} // namespace wc
