-- The message archive is kept for the accounts whose pages reload their
-- conversation from it: the subjects and the moderator. A bot (or wexlab's
-- or the desk's account) never reads an archive, and every message it sends
-- or receives is already in its seat's, so its own copy would only double
-- the archive's writes. Each listed account's
-- archive preference is set to never when the server starts; the seats'
-- archives keep the server's default (always).

local unarchived = module:get_option_set("wex_lab_unarchived", {});
local prefs = module:open_store("archive_prefs");

for username in unarchived do
	local ok, err = prefs:set(username, { [false] = false });
	if not ok then
		module:log("error", "Cannot set the archive preference of %s: %s", username, err);
	end
end
