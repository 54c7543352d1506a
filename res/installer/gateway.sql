-- What wixl 0.101 cannot write into the gateway's package, set in its tables after the build.
-- RELAY is secure, so that it reaches the elevated part of an install that a user started.
UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;RELAY' WHERE `Property` = 'SecureCustomProperties'
-- The rollback action runs only in a rollback: 18 an installed exe, 0x40 its exit code ignored, 0x100 rollback,
-- 0x400 in the script, 0x800 without impersonation.
UPDATE `CustomAction` SET `Type` = 3410 WHERE `Action` = 'RollBackService'
-- An upgrade removes the older version, service included, right after InstallValidate, before this one
-- installs anything.
UPDATE `InstallExecuteSequence` SET `Sequence` = 1450 WHERE `Action` = 'RemoveExistingProducts'
-- The service and its logins go before StopServices and DeleteServices (wixl misplaces an action given
-- relative to the standard ones).
UPDATE `InstallExecuteSequence` SET `Sequence` = 1850 WHERE `Action` = 'UninstallService'
