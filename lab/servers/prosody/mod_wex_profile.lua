-- Samples where the server's Lua code spends its time: every N virtual
-- machine instructions, the running function (self) and every function
-- and source file on the stack (inclusive) get one count. The counts go
-- to a text file at shutdown and every 10 s, so `wexlab bench --profile`
-- can name the top costs per stanza. Never loaded in a real session.

local out_path = module:get_option_string("wex_profile_file");
local every = module:get_option_number("wex_profile_instructions", 1000);
local getinfo, sethook = debug.getinfo, debug.sethook;

local self_counts, file_counts, function_counts, total = {}, {}, {}, 0;

local function count(counts, key)
	counts[key] = (counts[key] or 0) + 1;
end

local function sample()
	total = total + 1;
	local seen = {};
	for level = 2, 40 do
		local frame = getinfo(level, "Sn");
		if not frame then break; end
		local file = frame.short_src;
		local func = file .. ":" .. frame.linedefined .. " " .. tostring(frame.name);
		if level == 2 then count(self_counts, func); end
		if not seen[file] then seen[file] = true; count(file_counts, file); end
		if not seen[func] then seen[func] = true; count(function_counts, func); end
	end
end

-- Coroutines do not inherit a Lua hook: hook each one as it is made.
local create = coroutine.create;
coroutine.create = function (f)
	local co = create(f);
	sethook(co, sample, "", every);
	return co;
end
-- Modules load inside a coroutine: the main thread is the registry's first.
sethook(debug.getregistry()[1], sample, "", every);
sethook(sample, "", every);

local function sorted_lines(counts, limit)
	local keys = {};
	for key in pairs(counts) do keys[#keys + 1] = key; end
	table.sort(keys, function (a, b) return counts[a] > counts[b]; end);
	local lines = {};
	for i = 1, math.min(limit, #keys) do
		local key = keys[i];
		lines[#lines + 1] = string.format("%6.2f%%  %s", 100 * counts[key] / total, key);
	end
	return table.concat(lines, "\n");
end

local function dump()
	if not out_path or total == 0 then return; end
	local file = io.open(out_path, "w");
	if not file then return; end
	-- Switching the collector returns its mode before; switch straight back.
	local collector = collectgarbage("incremental");
	collectgarbage(collector);
	file:write("samples ", total, " (one per ", every, " instructions), collector ",
		collector, "\n\n");
	file:write("# source files on the stack (inclusive)\n", sorted_lines(file_counts, 40), "\n\n");
	file:write("# functions on the stack (inclusive)\n", sorted_lines(function_counts, 80), "\n\n");
	file:write("# functions running (self)\n", sorted_lines(self_counts, 60), "\n");
	file:close();
end

module:add_timer(10, function () dump(); return 10; end);
module:hook_global("server-stopping", dump);
