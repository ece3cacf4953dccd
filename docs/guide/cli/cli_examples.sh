#!/bin/sh
# The examples of docs/guide-cli.md, each between "# guide: NAME" and
# "# guide: end", run in a folder of their own with PALOMA_PRINTER naming the
# printer:
#
#   PALOMA_PRINTER=tcp://127.0.0.1:9100 sh docs/guide/cli/cli_examples.sh label_options
set -eu
case "${1:-}" in
  label_options)
    # guide: label_options
    paloma label --size 60x40mm \
      --text "20,20,Hello" \
      --barcode "20,70,128,PALOMA-0001" \
      --qr "340,20,https://example.com/p/0001" \
      --print 1
    # guide: end
    ;;
  label_file)
    # guide: label_file
    cat > shipping.json <<'JSON'
{
  "size": "60x40mm",
  "items": [
    {"text": "Order {order}", "x": 20, "y": 20, "font": "4"},
    {"text": "{name}", "x": 20, "y": 70, "font": "3"},
    {"barcode": "{order}", "x": 20, "y": 120, "height": 100},
    {"text": "label {counter}", "x": 340, "y": 20, "font": "2"}
  ]
}
JSON
    cat > orders.csv <<'CSV'
order,name
100234,"Smith, Jane"
100235,Lee Wong
CSV
    paloma label shipping.json --data orders.csv
    # guide: end
    ;;
  send_stdin)
    # guide: send_stdin
    printf '%s\n' 'SIZE 40 mm,20 mm' 'CLS' 'BOX 4,4,316,156,3' \
      'TEXT 20,60,"3",0,1,1,"from a pipe"' 'PRINT 1' | paloma send -
    # guide: end
    ;;
  *)
    echo "usage: cli_examples.sh label_options|label_file|send_stdin" >&2
    exit 2
    ;;
esac
