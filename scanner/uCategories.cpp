#include "scanner/uCategories.h"

namespace quenlo {

namespace {

constexpr std::array<std::string_view, CategoryCount> kCategoryNames{
    "Registry Integrity",
    "Type Library",
    "Windows Associations",
    "Deep Scan",
    "Custom Controls",
    "Application IDs",
    "Code Pages",
    "Content Type",
    "Applications",
    "Known Drivers",
    "Virtual Devices",
    "Open GL Drivers",
    "Shared DLLs",
    "Start Menu",
    "Startup",
    "Help and Resources",
    "Windows Fonts",
    "Application Locations",
    "File Extensions",
    "HTML Help",
    "Installed Files",
    "Add/Remove Cache",
    "File/Path References",
    "History Lists",
};

// Categories 22 and 23 are stored under each other's natural key; existing
// settings files depend on these exact keys.
constexpr std::array<std::string_view, CategoryCount> kSettingsKeys{
    "RegistryIntegrity", "TypeLibrary",        "WindowsAssociations",
    "DeepScan",          "CustomControls",     "ApplicationIDs",
    "CodePages",         "ContentType",        "Applications",
    "KnownDrivers",      "VirtualDrivers",     "OpenGLDrivers",
    "SharedDLLs",        "StartMenu",          "Startup",
    "HelpAndResources",  "WindowsFonts",       "ApplicationLocations",
    "FileExtensions",    "HTMLHelp",           "InstalledFiles",
    "AddRemoveCache",    "ConfigurationCache", "FilePathReferences",
};

constexpr std::array<std::string_view, CategoryCount> kDescriptions{
    "Checks the Shell Folders listed in the registry and makes sure that they exist on the "
    "harddrive. If any do not exist, they are created on the harddrive. Non-existent Shell "
    "Folders can cause errors in Windows.",
    "Makes many different checks of the structure and validity of the entries in the TypeLib "
    "key. The TypeLib key contains the information that needs to be placed in the registry "
    "registration of type libraries. Invalid entries are removed.",
    "Makes many different checks of the validity and completeness of Windows Associations. "
    "Windows Associations dictate what happens when a file is run. Invalid entries are removed.",
    "Performs 68 unique tests which probe deep into the classes of the registry to root out "
    "hidden problems. Classes are used by Windows to store information about registered "
    "applications and their processes so that they run seamlessly. Problems found in the Deep "
    "Scan are removed.",
    "Performs several checks on the interface of the custom controls. The Interface defines the "
    "communication boundary between software, devices, and the user. Invalid entries are "
    "removed.",
    "Confirms the validity of the AppIDs. The AppIDs group the configuration options for "
    "distributed COM objects into a centralized location. Invalid entries are removed.",
    "Performs several checks of the code pages. The Code Pages map the sequence in which bits "
    "are associated with specific characters. Invalid entries are removed.",
    "Performs several checks of the content types. Content Types indicate the media type of "
    "messages transmitted over the Internet. Invalid entries are removed.",
    "Checks the validity of the entries in the Applications key. This key contains references to "
    "the applications that appear in the dialog box that is shown when an unassociated file is "
    "opened. Invalid entries are removed.",
    "Checks the validity of the entries in all of the known driver keys. The known drivers are "
    "loaded at startup into a section of memory ready to be used when needed. Invalid entries "
    "are removed.",
    "Checks the validity of the entries in the StaticVxD key. A virtual device is a program that "
    "manages a system resource so that more than one application can use the resource at the "
    "same time. Invalid entries are removed.",
    "Checks the validity of the entries in the OpenGLdrivers key. OpenGL is a cross-platform "
    "standard for 3D rendering and 3D hardware acceleration required by some computer games. "
    "Invalid entries are removed.",
    "Checks the validity of the entries in SharedDLLs key. The SharedDLLs key keeps track of "
    "files used by more than one program or application. Invalid entries are removed.",
    "Makes sure that the items in the Start Menu list of the registry exist in the Start Menu "
    "list on the harddrive. This allows the menu which pops up when the Start button is clicked "
    "on to run efficiently. Non-existent entries are removed.",
    "Checks the startup lists in the registry and makes sure that the applications they start "
    "exist. The startup lists enumerate the items that are run when the computer starts. "
    "Entries pointing to non-existent applications are removed.",
    "Checks to see that the Help files referenced in the Help section of the registry exist on "
    "the harddrive. Help files are used by Windows and applications to instruct the user on many "
    "topics. Entries pointing to non-existent files are removed.",
    "Checks the font lists in the registry and makes sure that the fonts exist on the harddrive. "
    "Fonts specify the typeface or look of letters, numbers, and characters. Non-existent fonts "
    "are removed.",
    "Checks to see that the Application files referenced in the AppPaths sections of the "
    "registry exist on the harddrive. The AppPaths sections tell the specific path where certain "
    "files are located on the computer. Entries pointing to non-existent files are removed.",
    "Checks the Extensions lists in the registry and makes sure that the applications they "
    "specify exist. The Extensions lists point to specific programs for running file extensions. "
    "Entries pointing to non-existent applications are removed.",
    "Checks to see that the help files referenced in the HTMLHelp section of the registry exist "
    "on the harddrive. HTMLHelp is a file format that Windows uses for most Help files. Entries "
    "pointing to non-existent files are removed.",
    "Confirms that the entries in the InstalledFiles list of the registry point to installed "
    "files. Entries pointing to non-existent files are removed.",
    "Checks the add/remove caches in the registry for antiquated entries. Add/Remove caches are "
    "hidden and often unchecked lists of items which appear in the Add/Remove Programs section "
    "of the Control Panel. Antiquated entries are removed.",
    "Performs a complete scan of all entries in the registry for references to files on the "
    "harddrive. Entries pointing to non-existent files are removed.",
    "Cleans the Most Recently Opened file lists in your applications. For example, if a recently "
    "opened file in Paint, or WordPad no longer exists its entry will be removed from that "
    "list.",
};

constexpr std::array<std::string_view, ErrorKindCount> kKindNames{
    "Invalid Registry Value",
    "Invalid Alias for Character Set",
    "Invalid Code Page",
    "Invalid Open With List Entry",
    "Invalid Open With List Entry",
    "Invalid Open With Program IDs Entry",
    "Invalid Start Menu Item",
    "Invalid Path to Shared File",
    "Invalid Path to Help File",
    "Invalid Path to Toolbox Bitmap File",
    "Invalid Path to Icon File",
    "Invalid Indirect String",
    "Invalid Class ID",
    "Invalid Application ID",
    "Invalid Program ID",
    "Invalid File Extension",
    "Invalid Path to Help Directory",
    "Empty Registry Key",
    "Invalid Interface",
    "Invalid Type Library",
    "Invalid Local Service",
    "Invalid Shell Command",
    "Invalid Path",
    "Invalid Path",
    "Invalid Path",
    "Invalid MRU List",
    "Invalid Font File Name",
    "Invalid Add/Remove Cache Entry",
    "Invalid Uninstall Entry",
    "Invalid Shortcut",
};

template <std::size_t N>
std::string_view Lookup(const std::array<std::string_view, N> &table, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= N)
    return {};
  return table[static_cast<std::size_t>(index)];
}

} // namespace

std::string_view CategoryName(int category) {
  return Lookup(kCategoryNames, category);
}
std::string_view CategorySettingsKey(int category) {
  return Lookup(kSettingsKeys, category);
}
std::string_view CategoryDescription(int category) {
  return Lookup(kDescriptions, category);
}
std::string_view ErrorKindName(int kind) {
  return Lookup(kKindNames, kind);
}

} // namespace quenlo
