-- String building: short pieces appended to a line that is flushed past 200 bytes.
local function strings(n)
  local line, total = "", 0
  for i = 0, n - 1 do
    line = line .. "k" .. (i % 1000) .. ";"
    if #line > 200 then
      total = total + #line
      line = ""
    end
  end
  print(total)
  print(line)
end

strings(3000013)
