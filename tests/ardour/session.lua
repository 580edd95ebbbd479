-- ardour7-lua session.lua DIR NAME RATE KIND PLUGIN [PARAM=VALUE ...]
-- Makes a new headless session (Dummy backend) with one stereo track "T" wired to the master
-- bus, optionally inserts one plug-in pre-fader, sets its parameters, saves and quits.
--   KIND "none": no plug-in (PLUGIN is ignored).
--   KIND "vst":  PLUGIN is the Linux VST 2 name or unique id Ardour's scanner cached;
--                PARAM is the parameter index, VALUE the 0..1 value a VST 2 host sends.
--   KIND "lv2":  PLUGIN is the LV2 URI; PARAM is Ardour's control-port number (the n-th
--                control port, not the LV2 port index), VALUE in the port's own units.
--   KIND "vst3": PLUGIN is the class ID (32 hex digits) the VST 3 scanner cached; PARAM is
--                Ardour's number of the parameter (the n-th automatable one), VALUE plain.
io.stdout:setvbuf("no")
local dir, name, rate, kind, plugin = arg[1], arg[2], tonumber(arg[3]), arg[4], arg[5]
assert(dir and name and rate and kind and plugin, "usage: session.lua DIR NAME RATE KIND PLUGIN [P=V ...]")

-- Release builds hide the Dummy backend.
ARDOUR.config():set_hide_dummy_backend(false)
assert(AudioEngine:set_backend("None (Dummy)", "", ""), "the Dummy backend is missing")
-- Creating the session starts the engine, which loads the plug-in caches; asking for plug-ins
-- before that crashes ardour7-lua.
assert(create_session(dir, name, rate), "create_session failed")

local tracks = Session:new_audio_track(2, 2, nil, 1, "T", ARDOUR.PresentationInfo.max_order,
                                       ARDOUR.TrackMode.Normal, true)
local track = tracks:front()
assert(track, "new_audio_track failed")

-- Ardour wires new tracks to the master bus on a thread of its own; a session saved before that
-- exports silence. Wait for the wiring, then make it by hand if it still is not there.
local out, master = track:output(), Session:master_out():input()
local function wired()
  for c = 0, 1 do
    if not out:audio(c):connected_to(master:audio(c):name()) then return false end
  end
  return true
end
for _ = 1, 50 do
  if wired() then break end
  sleep(0.1)
end
for c = 0, 1 do
  if not out:audio(c):connected_to(master:audio(c):name()) then
    out:connect(out:audio(c), master:audio(c):name(), nil)
  end
end
assert(wired(), "the track is not wired to the master bus")

if kind ~= "none" then
  local types = { vst = ARDOUR.PluginType.LXVST, lv2 = ARDOUR.PluginType.LV2,
                  vst3 = ARDOUR.PluginType.VST3 }
  local ptype = assert(types[kind], "unknown plug-in kind " .. kind)
  local listed = false
  for p in ARDOUR.LuaAPI.list_plugins():iter() do
    if p.type == ptype and (p.name == plugin or p.unique_id == plugin) then listed = true end
  end
  assert(listed, "Ardour does not list the " .. kind .. " plug-in " .. plugin)
  local proc = ARDOUR.LuaAPI.new_plugin(Session, plugin, ptype, "")
  assert(not proc:isnil(), "new_plugin failed for " .. plugin)
  assert(track:add_processor_by_index(proc, 0, nil, true) == 0, "add_processor_by_index failed")
  for i = 6, #arg do
    local index, value = string.match(arg[i], "^(%d+)=(.+)$")
    assert(index and tonumber(value), "bad parameter setting " .. arg[i])
    assert(ARDOUR.LuaAPI.set_processor_param(proc, tonumber(index), tonumber(value)),
           "Ardour refused " .. arg[i])
  end
  local plug = proc:to_insert():plugin(0)
  for j = 0, plug:parameter_count() - 1 do
    if plug:parameter_is_control(j) and plug:parameter_is_input(j) then
      print(string.format("param %d %s = %.9g", j, plug:parameter_label(j),
                          ARDOUR.LuaAPI.get_processor_param(proc, j)))
    end
  end
end

Session:save_state("", false, false, false, false, false)
close_session()
print("saved " .. dir .. "/" .. name .. ".ardour")
