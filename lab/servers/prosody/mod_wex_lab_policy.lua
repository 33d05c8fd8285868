-- Lets two accounts of a lab server exchange stanzas only when the lab's
-- policy file names them together, so subjects reach their own pair's bot
-- and nobody else.
--
--   wex_lab_policy_file  lines of two account names that may talk to each
--                        other ("pair01 alice"); # begins a comment
--   wex_lab_refused_log  each refusal is appended here as one line:
--                        time (UTC), kind, from, to, separated by tabs
--   wex_lab_one_session  accounts that may hold one session at a time (the
--                        subjects): a new sign-in closes the older ones
--   wex_lab_replaced_log each session so closed is appended here as one
--                        line: time (UTC), account, the older resource,
--                        the newer one, separated by tabs
--   wex_lab_http_headers headers added to every file of the web seats' page
--                        (names as Prosody keeps them: content_type)
--   wex_lab_http_no_store paths served with Cache-Control no-store; every
--                        other file with no-cache
--
-- Only stanzas a client sends to another account are judged; stanzas to the
-- server itself or between one account's own clients pass. A refused message,
-- subscription request or query is answered with a not-allowed error the
-- sender's client shows; other presence (broadcasts, probes) and errors or
-- results are dropped without an answer. A stanza to an account the server
-- does not have goes on to the server's usual answer. Without a readable
-- policy file every stanza between two accounts is refused.

local st = require "util.stanza";
local jid_prepped_split = require "util.jid".prepped_split;
local new_cache = require "util.cache".new;
local usermanager = require "core.usermanager";

local policy_path = module:get_option_string("wex_lab_policy_file");
local refused_path = module:get_option_string("wex_lab_refused_log");
local one_session = module:get_option_set("wex_lab_one_session", {});
local replaced_path = module:get_option_string("wex_lab_replaced_log");
local http_headers = module:get_option("wex_lab_http_headers");
local no_store = module:get_option_set("wex_lab_http_no_store", {});
local host = module.host;

local TEXTS = {
	message = "Messages to this account are not allowed in this session.";
	presence = "Contact requests to this account are not allowed in this session.";
	iq = "Requests to this account are not allowed in this session.";
};
local SUBSCRIPTION = { subscribe = true; subscribed = true; unsubscribe = true; unsubscribed = true };

local allowed = {};

local function load_policy()
	local pairs_allowed = {};
	local file, err = nil, "wex_lab_policy_file is not set";
	if policy_path then file, err = io.open(policy_path); end
	if not file then
		module:log("error", "No lab policy (%s): every stanza between accounts is refused", err);
		allowed = pairs_allowed;
		return;
	end
	local count = 0;
	for line in file:lines() do
		local text = line:gsub("#.*", "");
		local a, b = text:match("^%s*(%S+)%s+(%S+)%s*$");
		if a then
			pairs_allowed[a .. "\0" .. b] = true;
			pairs_allowed[b .. "\0" .. a] = true;
			count = count + 1;
		elseif text:match("%S") then
			module:log("warn", "Lab policy %s: ignored line %q", policy_path, line);
		end
	end
	file:close();
	allowed = pairs_allowed;
	module:log("info", "Lab policy %s: %d pairs of accounts may talk", policy_path, count);
end

-- Appends one line of tab-separated fields, the time (UTC) first.
local function append_line(path, ...)
	if not path then return; end
	local file, err = io.open(path, "a");
	if not file then
		module:log("error", "Cannot write %s: %s", path, err);
		return;
	end
	file:write(table.concat({ os.date("!%Y-%m-%dT%H:%M:%SZ"), ... }, "\t"), "\n");
	file:close();
end

local function record(kind, from, to)
	module:log("info", "Refused %s from %s to %s", kind, from, to);
	append_line(refused_path, kind, from, to);
end

-- The prepared (stringprep) node and host of the addresses lately judged:
-- preparing one costs more than the rest of the judgement, and a session's
-- stanzas go to few addresses. Bounded, so a client sending to ever new
-- addresses only evicts the oldest.
local prepared = new_cache(1000);

local function prepped_split(to)
	local known = prepared:get(to);
	if known then return known[1], known[2]; end
	local node, host = jid_prepped_split(to);
	prepared:set(to, { node, host });
	return node, host;
end

-- Whether the stanza may go on; false when it is refused.
local function permitted(origin, to)
	local to_node, to_host = prepped_split(to);
	if not to_node then return true; end -- the server itself, or no address at all
	local from_node = origin.username;
	if to_host == host then
		if to_node == from_node then return true; end
		if allowed[from_node .. "\0" .. to_node] then return true; end
		if not usermanager.user_exists(to_node, host) then return true; end
	end
	return false;
end

local function judge(event)
	local origin, stanza = event.origin, event.stanza;
	local to = stanza.attr.to;
	if origin.type ~= "c2s" or not origin.username or not to then return; end
	if permitted(origin, to) then return; end
	local kind, stanza_type = stanza.name, stanza.attr.type;
	if kind == "presence" and not SUBSCRIPTION[stanza_type] then
		return true; -- a broadcast or probe to someone outside the pair
	end
	record(kind, origin.full_jid or (origin.username .. "@" .. host), to);
	if stanza_type ~= "error" and stanza_type ~= "result" then
		origin.send(st.error_reply(stanza, "cancel", "not-allowed", TEXTS[kind]));
	end
	return true;
end

for _, kind in ipairs({ "message", "presence", "iq" }) do
	module:hook("pre-" .. kind .. "/bare", judge, 1000);
	module:hook("pre-" .. kind .. "/full", judge, 1000);
end

load_policy();
module:hook_global("config-reloaded", load_policy);

-- One session per subject account: the newest sign-in takes the seat and
-- every other session of the account is closed with a conflict, which the
-- seat's page shows as opened in another window. A session of the same
-- resource is Prosody's own conflict and closed before this runs.
local REPLACED_TEXT = "This seat was opened in another window.";

module:hook("resource-bind", function (event)
	local session = event.session;
	local username = session.username;
	if not one_session:contains(username) then return; end
	local user = prosody.hosts[host].sessions[username];
	if not user then return; end
	local older = {};
	for resource, other in pairs(user.sessions) do
		if other ~= session then older[#older + 1] = { resource, other }; end
	end
	for _, found in ipairs(older) do
		local resource, other = found[1], found[2];
		module:log("info", "Closing %s/%s: the account signed in again as %s", username,
			resource, session.resource);
		append_line(replaced_path, username, resource, session.resource);
		other:close({ condition = "conflict"; text = REPLACED_TEXT });
	end
end);

-- The web seats' page: the headers that keep it from being framed or
-- sniffed, and a cache rule per file (seat.json is never stored). Runs
-- before the file server of the same path.
if http_headers then
	local http_server = require "net.http.server";
	module:hook_object_event(http_server, "GET " .. host .. "/*", function (event)
		local headers = event.response.headers;
		for name, value in pairs(http_headers) do headers[name] = value; end
		local path = event.request.path;
		headers.cache_control = no_store:contains(path) and "no-store" or "no-cache";
	end, 10);
end
