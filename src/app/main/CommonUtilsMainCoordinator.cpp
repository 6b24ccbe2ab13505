#include "app/main/CommonUtilsMainCoordinator.h"

#include "library/CommonUtils.h"

void CommonUtilsMainCoordinator::setDelegate(CommonUtilsDelegate* delegate) { utils_.setDelegate(delegate); }

void CommonUtilsMainCoordinator::connectDevice() { utils_.connectDevice(); }

void CommonUtilsMainCoordinator::ejectDeviceWithPatchList(const PatchItems& patchList)
{
    utils_.ejectDeviceWithPatchList(patchList, {});
}

void CommonUtilsMainCoordinator::closeApp()
{
    if (quit_) quit_();
}

std::string CommonUtilsMainCoordinator::getDeviceVersion() { return utils_.getDeviceVersion().value_or(std::string()); }

void CommonUtilsMainCoordinator::forceEjectDevice() { utils_.forceEjectDevice(); }
