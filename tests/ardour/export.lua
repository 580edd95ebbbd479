-- ardour7-lua export.lua DIR NAME OUT_FOLDER OUT_NAME PRESET_ID
-- Loads a saved session (Dummy backend), refuses it when a plug-in could not be loaded, and
-- exports the session range of the master bus with the given export preset (faster than real
-- time) to OUT_FOLDER/OUT_NAME.wav.
io.stdout:setvbuf("no")
local dir, name, folder, outname, preset = arg[1], arg[2], arg[3], arg[4], arg[5]
assert(dir and name and folder and outname and preset,
       "usage: export.lua DIR NAME OUT_FOLDER OUT_NAME PRESET_ID")
ARDOUR.config():set_hide_dummy_backend(false)
assert(AudioEngine:set_backend("None (Dummy)", "", ""), "the Dummy backend is missing")
assert(load_session(dir, name), "load_session failed")

-- A plug-in that fails to load is replaced by a silent pass-through stub; a render through it
-- would pass as dry audio.
assert(Session:unknown_processors():empty(), "the session has plug-ins Ardour could not load")
for route in Session:get_routes():iter() do
  local i = 0
  while not route:nth_plugin(i):isnil() do
    local proc = route:nth_plugin(i)
    print(string.format("route %s plug-in %d: %s", route:name(), i, proc:display_name()))
    local plug = proc:to_insert():plugin(0)
    for j = 0, plug:parameter_count() - 1 do
      if plug:parameter_is_control(j) and plug:parameter_is_input(j) then
        print(string.format("param %d %s = %.9g", j, plug:parameter_label(j),
                            ARDOUR.LuaAPI.get_processor_param(proc, j)))
      end
    end
    i = i + 1
  end
end

local export = Session:simple_export()
assert(export:set_preset(preset), "export preset " .. preset .. " not found")
export:set_folder(folder)
export:set_name(outname)
assert(export:run_export(), "export failed")
print("exported " .. folder .. "/" .. outname .. ".wav")
close_session()
