#include "remover/texts.h"

#include "remover/resource.h"

namespace {

const char* OwnText(unsigned int id) {
    switch (id) {
    case IDS_NO_PATH: return "A path to an .UNI file is not specified.";
    case IDS_NO_FILE: return "The file that is specified does not exist:";
    case IDS_CAPTION_DEFAULT: return "UnInstall Application";
    case IDS_WILL_REMOVE: return "UnInstall will completely remove all the files associated with";
    case IDS_TO_EXIT: return "To exit UnInstall now click Cancel.";
    case IDS_TO_COMPLETE: return "To complete UnInstall click Finish.";
    case IDS_PREPARING: return "UnInstall is preparing to remove files for ";
    case IDS_COMPLETED: return "UnInstall completed successfully.";
    case IDS_REBOOT_QUESTION:
        return "For changes to take effect, UnInstall recommends you reboot your system.  Would you like to reboot "
               "your system now?";
    case IDS_ERROR: return "Error";
    case IDS_WIN32S: return "This is a 32-bit application.  It can not run on a 16-bit system.";
    case IDS_UNINSTALL: return "UnInstall";
    case IDS_BAD_VERSION: return " is an invalid UNI file.  Its version is incompatible with UnInstall.";
    case IDS_NO_VERSION: return " is an invalid UNI file.  It does not contain a version number.";
    case IDS_NO_SECTIONS: return " is an invalid UNI file.  It does not contain any section names.";
    case IDS_CAPTION_FOR: return "UnInstall for ";
    case IDS_DELETING: return "Deleting...";
    case IDS_STAGE_APP: return "Application Files\t\t\t\t\t\t";
    case IDS_STAGE_APP_DONE: return "Application Files\t\t\t\t\t\tDone";
    case IDS_STAGE_SHORTCUTS: return "Shortcuts\t\t\t\t\t\t";
    case IDS_STAGE_SHORTCUTS_DONE: return "Shortcuts\t\t\t\t\t\tDone";
    case IDS_STAGE_FILES: return "Files\t\t\t\t\t\t\t";
    case IDS_STAGE_FILES_DONE: return "Files\t\t\t\t\t\t\tDone";
    case IDS_STAGE_DIRS: return "Directories\t\t\t\t\t\t";
    case IDS_STAGE_DIRS_DONE: return "Directories\t\t\t\t\t\tDone";
    case IDS_DELETION_DONE: return "Deletion completed.";
    case IDS_NO_RESTART: return "Unable to restart.";
    case IDS_NOT_REMOVED:
        return "UnInstall was unable to remove the following files which have either been moved or are currently "
               "in use:\n";
    case IDS_KEY_NOT_DELETED: return "Unable to delete Registry Key\n";
    case IDS_NO_DIALOG: return "UnInstall could not open its window.  Nothing was removed.";
    default: return "";
    }
}

}  // namespace

CString RemoverText(unsigned int id) {
    CString text;
    if (text.LoadText(id) && !text.IsEmpty()) return text;
    return OwnText(id);
}
