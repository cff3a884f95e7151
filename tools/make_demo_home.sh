#!/usr/bin/env bash
# Lays out the demo program folder: settings, template, the configurations
# and their data files.
#
#   tools/make_demo_home.sh [--dest DIR] [--build DIR] [--ports P1,P2,P3[,P4]]
#                           [--caster-port P] [--fresh]
#
#   --dest   program folder to create (default demo-home/ at the top)
#   --build  build folder whose generated data files are used (default build/)
#   --ports  ports of DemoBinary, DemoAscii, DemoXml and DemoGermany
#            (default 2101,2102,2103,2104); without a fourth port the folder
#            holds the three Austria-like configurations only
#   --caster-port  port of the NTRIP caster (default 2100)
#   --fresh  remove the folder first (logs and request totals go with it)
#
# DemoGermany's database and height grid are built here, once per build
# folder, from BETA2007.gsb and egm96_15.gtx of Debian's proj-data package
# (with the build's marlobuild and gtximport); they are not committed.
#
# Run again on an existing folder, it refreshes settings and data but keeps
# each configuration's TotalNumberOfRequests, the NTRIP users file and the
# Log/ folder.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dest="$top/demo-home"
build="$top/build"
ports="2101,2102,2103,2104"
caster_port=2100
fresh=0
while [ $# -gt 0 ]; do
  case "$1" in
    --dest) dest="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    --ports) ports="$2"; shift 2 ;;
    --caster-port) caster_port="$2"; shift 2 ;;
    --fresh) fresh=1; shift ;;
    *) sed -n '2,22p' "$0" >&2; exit 2 ;;
  esac
done
IFS=, read -r port_binary port_ascii port_xml port_germany <<<"$ports"
if [ -z "${port_xml:-}" ]; then echo "make_demo_home: --ports needs three or four ports" >&2; exit 2; fi

[ "$fresh" = 1 ] && rm -rf "$dest"
mkdir -p "$dest/data"

# Data: committed files under demo/data/<kind>/, overlaid by files the build
# generated into <build>/demo-data/<kind>/ (larger ones are not committed).
for kind in marlo orvel geoid; do
  mkdir -p "$dest/data/$kind"
  for src in "$top/demo/data/$kind" "$build/demo-data/$kind"; do
    if [ -d "$src" ]; then cp -R "$src/." "$dest/data/$kind/"; fi
  done
done

# The database file of each kind: named by the environment, else the first
# data file found (README and text notes are not databases).
pick() {
  local dir="$1" override="$2"
  if [ -n "$override" ]; then echo "$override"; return; fi
  find "$dir" -maxdepth 1 -type f ! -iname '*.md' ! -iname '*.txt' ! -iname '*.ini' \
       ! -iname 'README*' ! -name '.*' ! -name 'germany_*' -printf '%f\n' | sort | head -n 1
}
marlo_db="$(pick "$dest/data/marlo" "${TARVIK_DEMO_MARLO_DB:-}")"
orvel_db="$(pick "$dest/data/orvel" "${TARVIK_DEMO_ORVEL_DB:-}")"
geoid_db="$(pick "$dest/data/geoid" "${TARVIK_DEMO_GEOID_DB:-}")"
for v in marlo_db orvel_db geoid_db; do
  [ -n "${!v}" ] || echo "make_demo_home: warning: no ${v%_db} data file found; that configuration will report it" >&2
done

fill() {  # template file, destination, port
  local total=0
  if [ -f "$2" ]; then
    total="$(sed -n 's/^[[:space:]]*TotalNumberOfRequests[[:space:]]*=[[:space:]]*\([0-9-]*\).*/\1/p' "$2" | head -n 1)"
    total="${total:-0}"
  fi
  sed -e "s|@MARLO_DB@|$marlo_db|g" -e "s|@ORVEL_DB@|$orvel_db|g" -e "s|@GEOID_DB@|$geoid_db|g" \
      -e "s|@CASTER_PORT@|$caster_port|g" \
      -e "s|^PORTNUM=.*|PORTNUM=$3|" -e "s|^TotalNumberOfRequests=.*|TotalNumberOfRequests=$total|" \
      "$1" > "$2.tmp"
  mv "$2.tmp" "$2"
}

# DemoGermany: ETRS89 to DHDN from the published BETA2007 grid, heights from
# EGM96, built once per build folder (about 15 s).
germany=0
if [ -n "${port_germany:-}" ]; then
  proj_data="${TARVIK_PROJ_DATA:-/usr/share/proj}"
  gdir="$build/demo-data/germany"
  gdb="$gdir/germany_beta2007.mdb"
  gorvel="$gdir/germany_egm96.orvel"
  if [ ! -f "$proj_data/BETA2007.gsb" ] || [ ! -f "$proj_data/egm96_15.gtx" ] ||
     [ ! -x "$build/bin/marlobuild" ] || [ ! -x "$build/bin/gtximport" ]; then
    echo "make_demo_home: warning: BETA2007.gsb/egm96_15.gtx (package proj-data) or the build's marlobuild" \
         "and gtximport are missing; DemoGermany is left out" >&2
  else
    mkdir -p "$gdir"
    if [ ! -s "$gdb" ] || [ "$build/bin/marlobuild" -nt "$gdb" ] || [ "$proj_data/BETA2007.gsb" -nt "$gdb" ]; then
      "$build/bin/marlobuild" --ntv2 "$proj_data/BETA2007.gsb" --central-meridian 10.5 "$gdb" >"$gdir/marlobuild.log"
      cat "$gdir/marlobuild.log"
    fi
    if [ ! -s "$gorvel" ] || [ "$build/bin/gtximport" -nt "$gorvel" ]; then
      "$build/bin/gtximport" "$proj_data/egm96_15.gtx" --south 46 --north 56.5 --west 4.5 --east 16.75 \
        --orvel "$gorvel" >/dev/null
    fi
    cp "$gdb" "$dest/data/marlo/"
    cp "$gorvel" "$dest/data/orvel/"
    germany=1
  fi
fi

home="$top/demo/home"
fill "$home/Tarvik_General.ini" "$dest/Tarvik_General.ini" ""
if [ "$germany" = 1 ]; then
  sed -i 's/^Configuration3=DemoXml$/&\nConfiguration4=DemoGermany/' "$dest/Tarvik_General.ini"
fi
fill "$home/ConfigurationTemplate.ini" "$dest/ConfigurationTemplate.ini" 0
# The users file is the operator's once it exists (Tarvik --ntrip-passwd).
if [ ! -f "$dest/NtripUsers.txt" ]; then
  cp "$home/NtripUsers.txt" "$dest/NtripUsers.txt"
  chmod 600 "$dest/NtripUsers.txt"
fi
for pair in "DemoBinary:$port_binary" "DemoAscii:$port_ascii" "DemoXml:$port_xml"; do
  name="${pair%%:*}"; port="${pair##*:}"
  mkdir -p "$dest/Configs/$name"
  fill "$home/Configs/$name/$name.ini" "$dest/Configs/$name/$name.ini" "$port"
done
if [ "$germany" = 1 ]; then
  mkdir -p "$dest/Configs/DemoGermany"
  fill "$home/Configs/DemoGermany/DemoGermany.ini" "$dest/Configs/DemoGermany/DemoGermany.ini" "$port_germany"
fi
mkdir -p "$dest/Log"
echo "Demo program folder: $dest"
echo "  DemoBinary  port $port_binary  binary RTCM 3 frames, heights from OrvelMan4 ($orvel_db)"
echo "  DemoAscii   port $port_ascii  ASCII texts, heights from the geoid grid ($geoid_db)"
echo "  DemoXml     port $port_xml  XML documents, heights from the mean geoid height"
echo "  Marlo database: $marlo_db"
if [ "$germany" = 1 ]; then
  echo "  DemoGermany port $port_germany  binary RTCM 3 frames, ETRS89 to DHDN (BETA2007), heights from EGM96"
fi
echo "  NTRIP caster port $caster_port: mount points DemoBinary (user demo, password demo)$([ "$germany" = 1 ] && echo ", DemoGermany (open)")"
