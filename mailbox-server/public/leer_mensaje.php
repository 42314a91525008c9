<?php
// SPDX-License-Identifier: GPL-3.0-or-later
// Answers <folder>/msj_<n>_datos.cry for a store that keeps messages elsewhere than in files the
// web server can serve (a database), and the 404 of a message that does not exist. The web
// server calls it with folder=F&numero=N; it is not a URL of its own.

declare(strict_types=1);

require_once __DIR__ . '/../lib/request.php';

velkorant_begin(false);
$folder = velkorant_folder();
$number = velkorant_param('numero');
$data = null;
if (preg_match('/^[1-9][0-9]{0,17}$/D', $number) === 1) {
    $data = velkorant_store()->message($folder, (int) $number);
}
header('Cache-Control: no-store');
header('X-Content-Type-Options: nosniff');
if ($data === null) {
    // Empty, as nginx answers a missing file: no client may take it for a message.
    http_response_code(404);
    header('Content-Type: text/plain');
    exit;
}
header('Content-Type: application/octet-stream');
echo $data;
