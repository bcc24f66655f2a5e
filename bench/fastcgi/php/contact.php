<?php
// A contact form as a site on nginx and PHP-FPM would run it: every field of the post read, the
// recipient checked against the allowed list beside this script, a mail of all fields sent through
// the relay that relay.ini names, a thank-you page. "?nodelay=1" turns Nagle off on the SMTP socket.
require 'libphp-phpmailer/autoload.php';

use PHPMailer\PHPMailer\PHPMailer;

$settings = parse_ini_file(__DIR__ . '/relay.ini');
$recipient = $_POST['mailto'] ?? $settings['mailto'];
$allowed = array_map('trim', file(__DIR__ . '/allowed.txt', FILE_IGNORE_NEW_LINES | FILE_SKIP_EMPTY_LINES));
if (!in_array(strtolower($recipient), array_map('strtolower', $allowed), true)) {
    http_response_code(200);
    echo "<html><body>This form cannot send to that address. Please write to ",
        htmlspecialchars($settings['mailto']), ".</body></html>";
    exit;
}

$text = '';
foreach ($_POST as $name => $value) {
    if ($name === 'mailto') continue;
    $text .= $name . ': ' . (is_array($value) ? implode(', ', $value) : $value) . "\r\n";
}

$mail = new PHPMailer(true);
$mail->isSMTP();
$mail->Host = '127.0.0.1';
$mail->Port = (int)$settings['port'];
$mail->SMTPAutoTLS = false;
$mail->SMTPAuth = false;
if (!empty($_GET['nodelay'])) $mail->SMTPOptions = ['socket' => ['tcp_nodelay' => true]];
$mail->CharSet = 'UTF-8';
$mail->setFrom($settings['mailfrom']);
$mail->addAddress($recipient);
$mail->Subject = 'Form';
$mail->Body = $text;
try {
    $mail->send();
} catch (Exception $e) {
    http_response_code(500);
    echo "<html><body>The message could not be sent.</body></html>";
    exit;
}
echo "<html><body>Thank you.<br>We received your message.</body></html>";
